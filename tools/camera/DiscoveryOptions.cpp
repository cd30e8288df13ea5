#include "DiscoveryOptions.h"

namespace vistamo::camera {

bool isDiscoveryFlag(std::string_view option) {
    return option == "--discovery" || option == "--no-discovery";
}

void applyDiscoveryFlag(DiscoveryOptions& options, std::string_view option) {
    options.enabled = option == "--discovery";
}

bool isDiscoveryValueOption(std::string_view option) { return option == "--answer-kind"; }

std::optional<std::string> applyDiscoveryValue(DiscoveryOptions& options, std::string_view option,
                                               const std::string& value) {
    if (option != "--answer-kind") {
        return std::nullopt;
    }
    if (value == answerKindName(DiscoveryAnswerKind::IAmIn)) {
        options.answerKind = DiscoveryAnswerKind::IAmIn;
    } else if (value == answerKindName(DiscoveryAnswerKind::Response)) {
        options.answerKind = DiscoveryAnswerKind::Response;
    } else {
        return "--answer-kind needs iamin or response, not '" + value + "'";
    }
    return std::nullopt;
}

std::string_view answerKindName(DiscoveryAnswerKind kind) {
    return kind == DiscoveryAnswerKind::IAmIn ? "iamin" : "response";
}

}  // namespace vistamo::camera
