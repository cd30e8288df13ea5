#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vistamo::camera {

// How the camera answers a scan request: with an I-am-in that carries its TCP port, or with a
// response sent from a UDP port equal to its TCP port.
enum class DiscoveryAnswerKind { IAmIn, Response };

// Whether and how the camera takes part in discovery. Set once in main before anything runs.
struct DiscoveryOptions {
    // On by default, so that a viewer on the same network finds the camera by itself.
    bool enabled = true;
    DiscoveryAnswerKind answerKind = DiscoveryAnswerKind::IAmIn;
};

// The discovery options without a value (--discovery, --no-discovery).
bool isDiscoveryFlag(std::string_view option);
void applyDiscoveryFlag(DiscoveryOptions& options, std::string_view option);

// The discovery options with a value (--answer-kind). Applying one returns an error text for
// people, or none when the value was fine.
bool isDiscoveryValueOption(std::string_view option);
std::optional<std::string> applyDiscoveryValue(DiscoveryOptions& options, std::string_view option,
                                               const std::string& value);

// "iamin" or "response".
std::string_view answerKindName(DiscoveryAnswerKind kind);

}  // namespace vistamo::camera
