// Address books as phones of recent years write them: labels as words, several accounts with
// linked cards, contacts still in the write-ahead log; and keybags damaged or opened with a
// wrong password.
#include "addressbooklabels.h"
#include "backup_fixture.h"
#include "passcodedlg.h"

#include "ui/tips.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fixture;

namespace {

struct Boxes {
    QStringList texts;
    Boxes() {
        g_setMessageBoxHook([this](QMessageBox& box) {
            texts << box.text();
            return int(QMessageBox::Ok);
        });
    }
    ~Boxes() { g_setMessageBoxHook(MessageBoxHook()); }
};

}  // namespace

TEST(DamagedKeybag, TheRightPasswordNamesTheDamageAWrongOneIsInvalid) {
    for (bool dp : {false, true}) {
        SCOPED_TRACE(dp);
        QTemporaryDir tmp;
        BackupBuilder b(tmp.path(), BackupBuilder::DB);
        b.setEncrypted("right", dp);
        b.damageClassKey(2);
        b.addAddressBook(false);
        b.build();
        BackupManifest bm(tmp.path());
        bm.readManifestInfo();
        Boxes boxes;
        PasscodeDlg dlg(&bm);
        dlg.ui->txtPasscode->setText("wrong");
        dlg.btnOKPressed();
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_EQ(boxes.texts[0], QString("Invalid password."));

        dlg.ui->txtPasscode->setText("right");
        dlg.btnOKPressed();
        ASSERT_EQ(boxes.texts.size(), 2);
        const QString text = boxes.texts[1];
        const std::string shown = text.toStdString();
        EXPECT_TRUE(text.contains("This backup is damaged: the password is right")) << shown;
        EXPECT_TRUE(text.contains("Manifest.plist")) << shown;
        EXPECT_TRUE(text.contains("Make a new encrypted backup")) << shown;
        EXPECT_TRUE(text.contains("protection class 2 do not")) << shown;
        EXPECT_NE(dlg.result(), int(QDialog::Accepted));
        EXPECT_TRUE(bm.password.isEmpty());

        // Without the dialog: a wrong password is no error, the damage is.
        EXPECT_FALSE(bm.setPasscodeNoUIThrow("wrong"));
        EXPECT_THROW(bm.setPasscodeNoUIThrow("right"), std::runtime_error);
    }
}

TEST(AddressBookLabels, EveryMarkerBecomesAWord) {
    using namespace addressbooklabels;
    struct Case {
        int property;
        const char* label;
        int code;
        const char* custom;  // data3, or nullptr when not set
    };
    const Case cases[] = {
        {kPhone, "_$!<Mobile>!$_", 2, nullptr},
        {kPhone, "_$!<iPhone>!$_", 0, "iPhone"},
        {kPhone, "_$!<School>!$_", 0, "School"},
        {kPhone, "_$!<Other>!$_", 0, nullptr},
        {kEmail, "_$!<Work>!$_", 2, nullptr},
        {kEmail, "_$!<School>!$_", 0, "School"},
        {kAddress, "_$!<Mobile>!$_", 0, "Mobile"},  // a phone label on an address
        {kUrl, "_$!<HomePage>!$_", 1, nullptr},
        {kDate, "_$!<Anniversary>!$_", 1, nullptr},
        {kRelated, "_$!<Daughter>!$_", 0, "Daughter"},
        {kRelated, "My own label", 0, "My own label"},
        // Only a whole marker is one: anything else is the user's own text.
        {kPhone, "_$!<Half", 0, "_$!<Half"},
        {kPhone, "_$!<>!$_", 0, "_$!<>!$_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        pim::Entity e;
        setLabel(e, c.property, QString::fromUtf8(c.label));
        EXPECT_EQ(e.fields.value("data2").toInt(), c.code);
        EXPECT_EQ(e.fields.contains("data3"), c.custom != nullptr);
        if (c.custom) {
            EXPECT_EQ(e.fields.value("data3").toString(), QString::fromUtf8(c.custom));
        }
    }
}
