#include "video/DialogRunner.h"

#include <QDialog>

namespace vistamo {

DialogRunner showingDialogRunner() {
    return [](QDialog& dialog, DialogModality modality) {
        if (modality == DialogModality::windowSheet) {
            dialog.setWindowModality(Qt::WindowModal);
            dialog.open();
        } else {
            dialog.setWindowModality(Qt::ApplicationModal);
            dialog.exec();
        }
    };
}

}  // namespace vistamo
