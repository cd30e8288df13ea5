#pragma once

#include <optional>
#include <string>

namespace vistamo {

// The two alerts a session shows. Both run on the main thread, modally; the window layer
// implements them, tests answer them in code.
class SessionDialogs {
public:
    virtual ~SessionDialogs() = default;

    // The password alert: message "PASSWORD_ERROR", informative text "PASSWORD_ERROR_INFO",
    // buttons "OK" and "CANCEL" (all localised by key) and an empty secure text field of
    // 200 × 24 points. Returns the typed text for "OK", none for any other answer.
    // Default: cancelled.
    virtual std::optional<std::string> askPassword() { return std::nullopt; }

    // The alert for a typed address that could not be connected: message "CONNECT_ERROR",
    // informative text "CONNECT_ERROR_DESC", button "OK". Default: nothing is shown.
    virtual void showConnectError() {}
};

}  // namespace vistamo
