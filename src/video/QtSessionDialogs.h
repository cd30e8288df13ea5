#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "session/SessionDialogs.h"
#include "video/DialogRunner.h"

class QLineEdit;

namespace vistamo {

// The password alert: a message, an informative text, an empty secure field of 200 × 24
// points and the buttons "OK" (accepts) and "CANCEL" (rejects). Main thread only.
class PasswordAlert final : public QDialog {
    Q_OBJECT

public:
    static constexpr int kFieldWidth = 200;
    static constexpr int kFieldHeight = 24;

    explicit PasswordAlert(QWidget* parent = nullptr);

    QLineEdit& passwordField() { return *field_; }

private:
    QLineEdit* field_;  // a child of the dialog
};

// The session's alerts as Qt dialogs, application-modal, with their texts from the table of
// texts. Main thread only, as the session calls them.
class QtSessionDialogs final : public SessionDialogs {
public:
    explicit QtSessionDialogs(DialogRunner runner = showingDialogRunner());

    // The typed text when the user answers "OK", none otherwise.
    std::optional<std::string> askPassword() override;
    void showConnectError() override;

private:
    // Set once at construction.
    const DialogRunner runner_;
};

}  // namespace vistamo
