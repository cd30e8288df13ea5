#pragma once

#include <functional>

class QDialog;

namespace vistamo {

// How a dialog or alert is put in front of the user.
enum class DialogModality {
    // Blocks the caller until answered; the whole application waits (an alert, a password).
    application,
    // A sheet on its parent window: returns at once and blocks only that window.
    windowSheet,
};

// Runs a dialog that is fully built (texts, buttons, parent). The application's runner shows
// it: `exec` for application-modal dialogs, `open` for sheets. Tests put in a runner that
// inspects the dialog and answers it in code, so no test waits on a person. Main thread only;
// the dialog is valid during the call (a sheet deletes itself once closed).
using DialogRunner = std::function<void(QDialog& dialog, DialogModality modality)>;

// The application's runner.
DialogRunner showingDialogRunner();

}  // namespace vistamo
