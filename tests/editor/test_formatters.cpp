// The per-entity texts of the display pane and the HTML export.
#include <gtest/gtest.h>

#include <QDate>
#include <QLocale>

#include "editor/contactdisplayer.h"
#include "editor_test_util.h"

using CD = ContactDisplayer;

TEST(Formatters, LabelRules) {
    struct Case {
        CD::Formatter f;
        pim::Entity e;
        const char* expected;
    };
    const Case cases[] = {
        {CD::g_phoneDisplay, ent({{"data1", "555"}, {"data2", 2}}), "Mobile:555"},
        {CD::g_phoneDisplay, ent({{"data1", "555"}, {"data2", "2"}}), "Mobile:555"},
        {CD::g_phoneDisplay, ent({{"data1", "555"}, {"data2", 2}, {"data3", "Desk"}}), "Desk:555"},
        {CD::g_phoneDisplay, ent({{"data1", "555"}}), "Other:555"},
        {CD::g_phoneDisplay, ent({{"data1", "555"}, {"data2", "x"}}), "Other:555"},
        {CD::g_phoneDisplay, ent({{"data1", "555"}, {"data2", 7}}), ":555"},
        {CD::g_phoneDisplay, ent({{"data1", "555"}, {"data3", "  "}}), "  :555"},
        {CD::g_emailDisplay, ent({{"data1", "a@b"}, {"data2", 3}}), ":a@b"},
        {CD::g_emailDisplay, ent({{"data2", 2}}), "Work:"},
        {CD::g_eventDisplay, ent({{"data2", 2}}), ":"},
        {CD::g_relDisplay, ent({{"data1", "Ann"}, {"data2", 14}}), "Spouse:Ann"},
        {CD::g_urlDisplay, ent({{"data1", "http://x"}, {"data2", 2}}), "Blog:http://x"},
        // Data is never taken for a placeholder, nor escaped in plain-text formatters.
        {CD::g_phoneDisplay, ent({{"data1", "%2 <b>&"}, {"data3", "%1"}}), "%1:%2 <b>&"},
        {CD::g_notesDisplay, ent({{"data1", "a\nb <i>"}, {"data3", "x"}}), "a\nb <i>"},
        {CD::g_notesDisplay, ent({}), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.f(c.e), QString::fromUtf8(c.expected)) << c.expected;
}

TEST(Formatters, DatesInShortFormWithoutTime) {
    const QString shortDate = QLocale::system().toString(QDate(1990, 5, 17), QLocale::ShortFormat);
    EXPECT_EQ(CD::g_eventDisplay(ent({{"data1", "1990-05-17"}, {"data2", 3}})),
              "Birthday:" + shortDate);
    // A zone suffix does not move the calendar day; the time is dropped.
    EXPECT_EQ(CD::g_eventDisplay(ent({{"data1", "1990-05-17T23:30:00+09:00"}, {"data2", 1}})),
              "Anniversary:" + shortDate);
    EXPECT_EQ(CD::g_eventDisplay(ent({{"data1", "1990-05-17T00:30:00"}, {"data2", 3}})),
              "Birthday:" + shortDate);
    EXPECT_EQ(CD::g_eventDisplay(ent({{"data1", "17.05.1990"}, {"data2", 3}})), "Birthday:");
    // A birthday without a year (a phone keeps it in 1604) shows day and month only.
    const QString noYear =
        CD::g_eventDisplay(ent({{"data1", "1604-05-17T00:00:00"}, {"data2", 3}}));
    EXPECT_FALSE(noYear.contains("1604")) << noYear.toStdString();
    EXPECT_FALSE(noYear.contains("04")) << noYear.toStdString();
    EXPECT_TRUE(noYear.startsWith("Birthday:") && noYear.contains("17")) << noYear.toStdString();
    EXPECT_EQ(CD::g_eventDisplay(ent({{"data1", ""}, {"data3", "Met"}})), "Met:");
}

TEST(Formatters, InstantMessagingAndOrganisation) {
    EXPECT_EQ(CD::g_imDisplay(ent({{"data1", "bob"}, {"data2", 1}, {"data5", 4}})),
              "Home:bob(Skype)");
    EXPECT_EQ(CD::g_imDisplay(ent({{"data1", "bob"}, {"data5", 4}, {"data6", "Signal"}})),
              "Other:bob(Signal)");
    EXPECT_EQ(CD::g_imDisplay(ent({{"data1", "bob"}, {"data3", "Mine"}})), "Mine:bob(Other)");
    EXPECT_EQ(CD::g_imDisplay(ent({{"data1", "bob"}, {"data5", 99}})), "Other:bob()");

    EXPECT_EQ(CD::g_orgDisplay(ent({{"data4", "CEO"}, {"data1", "Acme"}})), "Other:CEO Acme");
    EXPECT_EQ(CD::g_orgDisplay(ent({{"data5", "R&D"}, {"data2", 1}})), "Work:R&D");
    EXPECT_EQ(CD::g_orgDisplay(ent({{"data4", "A"}, {"data5", "B"}, {"data1", "C"}})),
              "Other:A B C");
    EXPECT_EQ(CD::g_orgDisplay(ent({})), "Other:");
}

TEST(Formatters, AddressIsEscapedRichText) {
    EXPECT_EQ(CD::g_addrDisplay(ent({{"data2", 1}})), "<b>Home</b><br/>");
    EXPECT_EQ(CD::g_addrDisplay(ent({{"data2", 2},
                                     {"data4", "1 Main St"},
                                     {"data7", "Springfield"},
                                     {"data8", "IL"},
                                     {"data9", "62701"},
                                     {"data10", "USA"}})),
              "<b>Work</b><br/>1 Main St<br/>Springfield, IL 62701<br/>USA");
    // Data cannot inject markup into the pane.
    EXPECT_EQ(CD::g_addrDisplay(ent({{"data3", "<i>x</i>"}, {"data4", "A & B <St>"}})),
              "<b>&lt;i&gt;x&lt;/i&gt;</b><br/>A &amp; B &lt;St&gt;");
}
