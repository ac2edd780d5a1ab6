#include <QUrl>
#include <gtest/gtest.h>

#include "ui/translator.h"
#include "ui/stylesheet.h"
#include "platform/power/powerassertion.h"
#include "platform/webservice/webservice.h"

TEST(WebService, HostAndPortComeFromTheOverride) {
    ASSERT_TRUE(g_setWebServiceAddress(QString()));
    EXPECT_EQ(g_webServicePort(), 80);
    EXPECT_TRUE(g_webServiceHost().endsWith(".example"));
    EXPECT_EQ(g_webServiceUrl("/err_report.php").toString(),
              "http://" + g_webServiceHost() + "/err_report.php");

    ASSERT_TRUE(g_setWebServiceAddress("127.0.0.1:8123"));
    EXPECT_EQ(g_webServiceHost(), "127.0.0.1");
    EXPECT_EQ(g_webServicePort(), 8123);
    EXPECT_EQ(g_webServiceUrl("/a?b=1&c=2").toString(), "http://127.0.0.1:8123/a?b=1&c=2");

    // A malformed address changes nothing.
    for (const char* bad : {"nohost", ":80", "h:0", "h:99999", "h:x", "a/b:80", "a b:80"}) {
        EXPECT_FALSE(g_setWebServiceAddress(bad)) << bad;
        EXPECT_EQ(g_webServicePort(), 8123) << bad;
    }
    ASSERT_TRUE(g_setWebServiceAddress(QString()));
    EXPECT_EQ(g_webServicePort(), 80);
    ASSERT_TRUE(g_setWebServiceAddress("127.0.0.1:9"));
}

TEST(PowerAssertion, WithoutASessionBusFailsQuietly) {
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    PowerAssertionID id = 77;
    EXPECT_EQ(g_powerAssertionCreateWithName("NoDisplaySleepAssertion", 255,
                                             "Describe Activity Type", &id),
              kPowerAssertionFailed);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(g_powerAssertionRelease(0), kPowerAssertionFailed);
    if (!saved.isEmpty()) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    }
}

TEST(Translator, KeysResolveFromAnyClassContext) {
    getStyleSheet(":/res/style.css");  // registers the resources
    TwTranslator translator;
    ASSERT_TRUE(translator.load(":/en.qm"));
    EXPECT_EQ(translator.translate("MainWindow", "IDS_MI_BACKUP_CONTACTS"), "Backup Contacts");
    EXPECT_EQ(translator.translate("ItemModelMainTree", "IDS_ROOT_DEVICE"), "Devices");
    EXPECT_EQ(translator.translate("SomeWorker", "IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED"),
              "Successfully backup %1 contacts to Local Database;%2 repeated contacts merged.");
    EXPECT_TRUE(translator.translate("MainWindow", "Not a key").isNull());

    // A plain translator finds the keys under the classes that translate them.
    QTranslator plain;
    ASSERT_TRUE(plain.load(":/en.qm"));
    EXPECT_EQ(plain.translate("IOSSyncToPCThread", "IDS_RECEIVING_CONTACTS_FROM_IOS"),
              "Loading contacts from device...");
    EXPECT_EQ(plain.translate("QObject", "IDS_MI_ABOUT"), "About");
}

TEST(Translator, EnglishTextsAsTheUserSeesThem) {
    getStyleSheet(":/res/style.css");  // registers the resources
    QTranslator plain;
    ASSERT_TRUE(plain.load(":/en.qm"));
    struct Row {
        const char* context;
        const char* key;
        const char* english;
    };
    // The program's own wording, spelling slips included: these texts are fixed.
    const Row rows[] = {
        {"GroupForm", "IDS_CONFIRM_UNGROUP_CONTACTS",
         "Confirm to remove seleted member from the Group?"},
        {"MainWindow", "IDS_CONFIRM_CLEAR_IOS_CONTACTS", "Confrim to clear all iPhone contacts?"},
        {"MainWindow", "IDS_UPDATE_GROUP_SUC", "Successfuly set Contact Group"},
        {"IOSSyncToDeviceThread", "IDS_MERGING_CONTACTS", "Merging contacts now..."},
        {"IOSSendChangesThread", "IDS_SENGING_CHANGES_TO_DEVICE",
         "Updating device contacts now..."},
        {"IOSSyncToDeviceThread", "IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS",
         "Successfully transferred %1 contacts to device."},
        {"IOSSyncToDeviceThread", "IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS_MERGED_%2",
         "Successfully transferred %1 contacts to device, with %2 repeated contacts merged."},
        {"LocalDbSelForm", "IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME",
         "Select one Database or enter a new Database name"},
        {"DataSourceSelForm", "IDS_PLEASE_SELECT_ONE_DATASOURCE", "Please select one datasource."},
        {"BackupContactsToLocalThread", "IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED",
         "Successfully backup %1 contacts to Local Database;%2 repeated contacts merged."},
        {"ExportToFileThread", "IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE",
         "Successfully exported %1 contacts to File."},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(plain.translate(row.context, row.key), QString::fromUtf8(row.english))
            << row.context << " " << row.key;
    }
}
