// The password alert as the user sees it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLineEdit>

#include "video/QtSessionDialogs.h"

namespace vistamo {
namespace {

TEST(QtSessionDialogsTest, PasswordAlertReturnsTheTypedTextOnlyForOK) {
    int shown = 0;
    bool accept = true;
    QtSessionDialogs dialogs([&](QDialog& dialog, DialogModality modality) {
        ++shown;
        EXPECT_EQ(modality, DialogModality::application);
        auto& alert = dynamic_cast<PasswordAlert&>(dialog);
        QLineEdit& field = alert.passwordField();
        EXPECT_EQ(field.echoMode(), QLineEdit::Password);
        EXPECT_EQ(field.size(), QSize(200, 24));
        EXPECT_TRUE(field.text().isEmpty());
        field.setText("p\xC3\xA4ss word");
        // The buttons, by their texts.
        auto* box = alert.findChild<QDialogButtonBox*>();
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == (accept ? "OK" : "Cancel")) {
                button->click();
            }
        }
    });
    EXPECT_EQ(dialogs.askPassword(), std::optional<std::string>("p\xC3\xA4ss word"));
    accept = false;
    EXPECT_EQ(dialogs.askPassword(), std::nullopt);
    EXPECT_EQ(shown, 2);
}

}  // namespace
}  // namespace vistamo
