// The four row editors: loading, the type/label rule, adding and removing rows.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include "editor/entityeditors.h"
#include "editor_test_util.h"

namespace {

const QString T = QStringLiteral("data2"), L = QStringLiteral("data3"), V = QStringLiteral("data1");

int gridRowOf(QWidget* editor, QWidget* w) {
    auto* grid = static_cast<QGridLayout*>(editor->layout());
    int row = -1, col, rs, cs;
    grid->getItemPosition(grid->indexOf(w), &row, &col, &rs, &cs);
    return row;
}

}  // namespace

TEST(GenericEntitiesEditor, TypeAndLabelRoundTrip) {
    GenericEntitiesEditor ed("Phone:", "Phone Number", pim::phoneTypeMap(), 2);
    ed.addItem(11, "s11", 0, "Boat", " 555 ");   // custom label, type 0
    ed.addItem(12, "s12", 0, "Work", "1");       // a label that is a map label
    ed.addItem(13, "s13", 3, "", "2");           // plain type
    ed.addItem(14, "s14", 7, "", "   ");         // unknown code, blank value
    ed.addItem(15, "s15", 0, "  Work  ", "3");   // blanks around a map label
    ed.addItem(16, "s16", 0, "work", "4");       // differs in case only
    ed.addItem(17, "s17", 0, "Work  Fax", "5");  // differs by inner blanks
    ASSERT_EQ(ed.rows().size(), 7);
    EXPECT_EQ(ed.rows()[0].cbType->currentText(), "Boat");
    EXPECT_EQ(ed.rows()[0].cbType->currentData().toInt(), 0);
    EXPECT_EQ(ed.rows()[3].cbType->currentIndex(), 0);  // lowest code's entry

    ed.rows()[2].cbType->setEditText(QString());  // cleared by the user
    // Text confirmed with Enter stays a custom label: no code-less item is inserted.
    ed.rows()[0].cbType->setFocus();
    QTest::keyClick(ed.rows()[0].cbType, Qt::Key_Return);
    EXPECT_EQ(ed.rows()[0].cbType->count(), pim::phoneTypeMap().size());

    const QList<pim::Entity> out = ed.toEntityList(T, L, V);
    ASSERT_EQ(out.size(), 7);
    struct Want {
        unsigned long long id;
        const char* src;
        int type;
        const char* label;
        const char* value;
    };
    const Want want[] = {{11, "s11", 0, "Boat", "555"},   {12, "s12", 3, "", "1"},
                         {13, "s13", 0, "", "2"},         {14, "s14", 0, "", ""},
                         {15, "s15", 3, "", "3"},         {16, "s16", 0, "work", "4"},
                         {17, "s17", 0, "Work  Fax", "5"}};
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(out[i]._id, want[i].id);
        EXPECT_EQ(out[i].srcId, want[i].src);
        EXPECT_EQ(out[i].fields.size(), 3);
        EXPECT_EQ(out[i].fields.value(T), QVariant(want[i].type));
        EXPECT_EQ(out[i].fields.value(L).toString(), want[i].label);
        EXPECT_EQ(out[i].fields.value(V).toString(), want[i].value);
    }
}

TEST(GenericEntitiesEditor, AddAndRemoveRows) {
    GenericEntitiesEditor ed("Phone:", "Phone Number", pim::phoneTypeMap(), 2);
    ed.addItem(1, "a", 1, "", "A");
    ed.addItem(2, "b", 1, "", "B");
    ed.addItem(3, "c", 1, "", "C");
    QTest::mousePress(ed.rows()[1].btnRemove, Qt::LeftButton);  // acts on press
    ASSERT_EQ(ed.rows().size(), 2);
    QTest::mousePress(ed.addButton(), Qt::LeftButton);
    ASSERT_EQ(ed.rows().size(), 3);
    const auto& added = ed.rows()[2];
    EXPECT_EQ(added.id, 0u);
    EXPECT_TRUE(added.srcId.isEmpty());
    EXPECT_EQ(added.cbType->currentText(), "Mobile");
    EXPECT_EQ(added.leValue->placeholderText(), "Phone Number");
    EXPECT_TRUE(added.leValue->text().isEmpty());
    // Below the last row, never on top of one.
    EXPECT_EQ(gridRowOf(&ed, added.leValue), 4);

    // Not called by a remove button: nothing happens.
    QMetaObject::invokeMethod(&ed, "remove");
    EXPECT_EQ(ed.rows().size(), 3);

    flushDeletes();
    EXPECT_EQ(ed.findChildren<QLineEdit*>().size(), 3 + 3);  // 3 rows, each combo has one too
    const QList<pim::Entity> out = ed.toEntityList(T, L, V);
    ASSERT_EQ(out.size(), 3);
    EXPECT_EQ(out[0].fields[V].toString(), "A");
    EXPECT_EQ(out[1].fields[V].toString(), "C");
    EXPECT_EQ(out[2].fields[T].toInt(), 2);
}

TEST(DateEntitiesEditor, DatesComeBackWithTheirTime) {
    DateEntitiesEditor ed("Date (year-month-day):", pim::eventTypeMap(), 3);
    ed.addItem(1, "s", 3, "", QDateTime::fromString("1990-05-17", Qt::ISODate));
    ed.addItem(2, "", 0, "Met", QDateTime());  // unreadable date
    ed.addItem(3, "", 1, "", QDateTime::fromString("1990-05-17T23:30:00+09:00", Qt::ISODate));
    EXPECT_EQ(ed.rows()[0].dteValue->displayFormat(), "yyyy-MM-dd");
    QTest::mousePress(ed.addButton(), Qt::LeftButton);

    const QList<pim::Entity> out = ed.toEntityList(T, L, V);
    ASSERT_EQ(out.size(), 4);
    EXPECT_EQ(out[0].fields[V].toString(), "1990-05-17T00:00:00");
    EXPECT_EQ(out[0].fields[T].toInt(), 3);
    EXPECT_EQ(out[1].fields[V].toString(), "2000-01-01T00:00:00");
    EXPECT_EQ(out[1].fields[L].toString(), "Met");
    EXPECT_EQ(out[2].fields[V].toString(), "1990-05-17T23:30:00");  // day as written
    EXPECT_EQ(out[3].fields[V].toString(),
              QDate::currentDate().toString("yyyy-MM-dd") + "T00:00:00");
    EXPECT_EQ(out[3].fields[T].toInt(), 3);
    EXPECT_EQ(out[3]._id, 0u);
}

TEST(DateEntitiesEditor, OldAndUnreadableDatesSurvive) {
    DateEntitiesEditor ed("Date (year-month-day):", pim::eventTypeMap(), 3);
    // Phones keep a birthday without a year as year 1604.
    ed.addItem(1, "", 3, "", QDateTime::fromString("1604-05-17", Qt::ISODate), "1604-05-17");
    ed.addItem(2, "", 3, "", QDateTime(), "--0517");
    ed.addItem(3, "", 3, "", QDateTime(), "--0613");
    // A day whose local midnight does not exist in some zones (daylight saving at 00:00).
    ed.addItem(4, "", 3, "", DateEntitiesEditor::parseStoredDate("2018-11-04"), "2018-11-04");
    ed.addItem(5, "", 3, "", DateEntitiesEditor::parseStoredDate("2018-11-04T00:30:00"), "");
    ed.rows()[2].dteValue->setDate(QDate(1999, 6, 13));  // the user picks a real date
    const QList<pim::Entity> out = ed.toEntityList(T, L, V);
    EXPECT_EQ(out[0].fields[V].toString(), "1604-05-17T00:00:00");
    EXPECT_EQ(out[1].fields[V].toString(), "--0517");
    EXPECT_EQ(out[2].fields[V].toString(), "1999-06-13T00:00:00");
    EXPECT_EQ(out[3].fields[V].toString(), "2018-11-04T00:00:00");
    EXPECT_EQ(out[4].fields[V].toString(), "2018-11-04T00:30:00");

    // A date the edit cannot hold (it would be clamped to its range) is kept as stored.
    DateEntitiesEditor far("Date:", pim::eventTypeMap(), 3);
    far.addItem(1, "", 3, "", DateEntitiesEditor::parseStoredDate("0050-03-04"), "0050-03-04");
    EXPECT_EQ(far.toEntityList(T, L, V)[0].fields[V].toString(), "0050-03-04");

    const QDateTime zoned = DateEntitiesEditor::parseStoredDate("1990-05-17T23:30:00+09:00");
    EXPECT_EQ(zoned.date(), QDate(1990, 5, 17));
    EXPECT_EQ(zoned.time(), QTime(23, 30));
    EXPECT_FALSE(DateEntitiesEditor::parseStoredDate("--0517").isValid());
    EXPECT_FALSE(DateEntitiesEditor::parseStoredDate("").isValid());
}

// A date without a year is edited as month and day and stays without a year.
TEST(DateEntitiesEditor, DateWithoutYearStaysWithoutYear) {
    DateEntitiesEditor ed("Date (year-month-day):", pim::eventTypeMap(), 3);
    ed.addItem(1, "1", 3, "", DateEntitiesEditor::parseStoredDate("1604-05-17T00:00:00"),
               "1604-05-17T00:00:00");
    ed.addItem(2, "", 1, "", DateEntitiesEditor::parseStoredDate("1990-05-17"), "1990-05-17");
    QDateTimeEdit* noYear = ed.rows()[0].dteValue;
    EXPECT_FALSE(noYear->displayFormat().contains('y'));
    EXPECT_FALSE(noYear->text().contains("1604")) << noYear->text().toStdString();
    EXPECT_TRUE(ed.rows()[1].dteValue->displayFormat().contains("yyyy"));
    // The user steps the month up and the day down, as the arrow keys do.
    noYear->setCurrentSection(QDateTimeEdit::MonthSection);
    noYear->stepBy(1);
    noYear->setCurrentSection(QDateTimeEdit::DaySection);
    noYear->stepBy(-2);
    EXPECT_EQ(ed.toEntityList(T, L, V)[0].fields[V].toString(), "1604-06-15T00:00:00");
}

TEST(IMEntitiesEditor, ServiceAndTypeRules) {
    IMEntitiesEditor ed("IM:", 1, 0);
    ed.addItem(ent({{"data1", " bob "}, {"data2", 1}, {"data5", 4}}, 5, "x5"));
    ed.addItem(ent({{"data1", "c"}, {"data5", 0}, {"data6", "Signal"}}, 6));
    ed.addItem(ent({{"data1", "d"}, {"data5", 0}, {"data6", "QQ"}}, 7));
    ed.addItem(ent({{"data1", "e"}, {"data5", 0}, {"data6", "qq"}}, 8));
    ed.addItem(ent({{"data1", "f"}, {"data5", 42}}, 9));
    EXPECT_EQ(ed.rows()[0].cbProtocol->currentText(), "Skype");
    EXPECT_EQ(ed.rows()[1].cbProtocol->currentText(), "Signal");
    EXPECT_EQ(ed.rows()[4].cbProtocol->currentText(), "Other");

    QTest::mousePress(ed.addButton(), Qt::LeftButton);
    EXPECT_EQ(ed.rows()[5].cbType->currentText(), "Home");
    EXPECT_EQ(ed.rows()[5].cbProtocol->currentText(), "Other");

    const QList<pim::Entity> out = ed.toEntityList();
    ASSERT_EQ(out.size(), 6);
    EXPECT_EQ(out[0].fields.size(), 5);
    EXPECT_EQ(out[0].fields["data1"].toString(), "bob");
    EXPECT_EQ(out[0].fields["data5"].toInt(), 4);
    EXPECT_EQ(out[0].fields["data6"].toString(), "");
    EXPECT_EQ(out[0].srcId, "x5");
    EXPECT_EQ(out[1].fields["data5"].toInt(), 0);
    EXPECT_EQ(out[1].fields["data6"].toString(), "Signal");
    EXPECT_EQ(out[2].fields["data5"].toInt(), 5);  // "QQ" is the map's label
    EXPECT_EQ(out[2].fields["data6"].toString(), "");
    EXPECT_EQ(out[3].fields["data6"].toString(), "qq");
    EXPECT_EQ(out[4].fields["data5"].toInt(), 0);
    EXPECT_EQ(out[5].fields["data2"].toInt(), 1);

    // Removing a row takes all four of its widgets.
    const int combos = ed.findChildren<QComboBox*>().size();
    QTest::mousePress(ed.rows()[0].btnRemove, Qt::LeftButton);
    flushDeletes();
    EXPECT_EQ(ed.findChildren<QComboBox*>().size(), combos - 2);
    EXPECT_EQ(ed.rows().size(), 5);
}

TEST(AddrEntitiesEditor, PartsLayoutAndFormattedText) {
    AddrEntitiesEditor ed("Address:", 1);
    ed.addItem(ent({{"data2", 2},
                    {"data4", "\n 1 Main St\nFlat 2 \n"},
                    {"data7", "Springfield"},
                    {"data8", "IL"},
                    {"data9", "62701"},
                    {"data10", "USA"},
                    {"data11", "us"}},
                   4, "a4"));
    ed.addItem(ent({{"data4", "Only street"}, {"data3", "Cabin"}}, 5));
    ASSERT_EQ(ed.rows().size(), 2);
    EXPECT_EQ(ed.rows()[0].leCountry->placeholderText(), "Country");
    EXPECT_EQ(gridRowOf(&ed, ed.rows()[1].cbType), 5);
    EXPECT_EQ(gridRowOf(&ed, ed.rows()[1].lePostcode), 8);

    const QList<pim::Entity> out = ed.toEntityList();
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0].fields.size(), 8);
    EXPECT_FALSE(out[0].fields.contains("data11"));
    EXPECT_EQ(out[0].fields["data4"].toString(), "1 Main St\nFlat 2");
    EXPECT_EQ(out[0].fields["data1"].toString(), "1 Main St\nFlat 2\nSpringfield, IL 62701\nUSA");
    EXPECT_EQ(out[0].fields["data2"].toInt(), 2);
    EXPECT_EQ(out[0]._id, 4u);
    EXPECT_EQ(out[1].fields["data1"].toString(), "Only street");
    EXPECT_EQ(out[1].fields["data7"].toString(), "");
    EXPECT_EQ(out[1].fields["data3"].toString(), "Cabin");
    EXPECT_EQ(out[1].fields["data2"].toInt(), 0);

    // Remove the first, add one: the new address goes below the remaining one.
    QTest::mousePress(ed.rows()[0].btnRemove, Qt::LeftButton);
    QTest::mousePress(ed.addButton(), Qt::LeftButton);
    ASSERT_EQ(ed.rows().size(), 2);
    EXPECT_EQ(gridRowOf(&ed, ed.rows()[1].cbType), 9);
    EXPECT_EQ(ed.rows()[1].cbType->currentText(), "Home");
    flushDeletes();
    EXPECT_EQ(ed.findChildren<QTextEdit*>().size(), 2);
}
