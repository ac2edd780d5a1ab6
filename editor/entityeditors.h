// Row editors for the repeatable kinds of contact detail: one row per entity (type chooser,
// value widgets, remove button) under a header with a title and an add button. Each keeps the
// row id and source id of the entities it was loaded with, so an edit can tell updated entities
// (row id set) from new ones (row id 0).
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QList>
#include <QMap>
#include <QString>
#include <QWidget>

#include "storeddates.h"
#include "store/pim.h"

class QComboBox;
class QDateTimeEdit;
class QGridLayout;
class QLineEdit;
class QTextEdit;
class QToolButton;

// Type plus one line of text: phone numbers, e-mail addresses, related people, web addresses.
class GenericEntitiesEditor : public QWidget {
    Q_OBJECT
public:
    struct _Item {
        unsigned long long id;
        QString srcId;
        QComboBox* cbType = nullptr;
        QLineEdit* leValue = nullptr;
        QToolButton* btnRemove = nullptr;
        _Item(unsigned long long id_, QString srcId_) : id(id_), srcId(std::move(srcId_)) {}
    };

    GenericEntitiesEditor(QString title, QString placeholder, QMap<int, QString> typeMap,
                          int defaultType, QWidget* parent = nullptr);
    ~GenericEntitiesEditor() override;

    void addItem(unsigned long long id, QString srcId, int type, QString label, QString value);
    // One entity per row, top to bottom; the type code goes under typeKey, a custom label under
    // labelKey, the trimmed value under valueKey. Empty rows are included.
    QList<pim::Entity> toEntityList(QString typeKey, QString labelKey, QString valueKey) const;

    const QList<_Item>& rows() const { return items; }
    QToolButton* addButton() const { return btnAdd; }

protected slots:
    void add();
    void remove();

private:
    QString placeholder;
    QMap<int, QString> typeMap;
    int defaultType;
    QGridLayout* gridLayout;
    QList<_Item> items;
    QToolButton* btnAdd;
};

// Type plus a date: anniversaries, birthdays and other dates. The stored date texts are read
// and shown by StoredDates, which the display formatters use without the widget.
class DateEntitiesEditor : public QWidget, public StoredDates {
    Q_OBJECT
public:
    struct _Item {
        unsigned long long id;
        QString srcId;
        QComboBox* cbType = nullptr;
        QDateTimeEdit* dteValue = nullptr;
        QToolButton* btnRemove = nullptr;
        // A stored text that reads as no date ("--0517", a typo ...) and what the edit showed
        // for it: given back unchanged unless the user picks a date.
        QString unreadText;
        QDateTime shownForUnread;
        _Item(unsigned long long id_, QString srcId_) : id(id_), srcId(std::move(srcId_)) {}
    };

    DateEntitiesEditor(QString title, QMap<int, QString> typeMap, int defaultType,
                       QWidget* parent = nullptr);
    ~DateEntitiesEditor() override;

    // An invalid dateTime leaves the edit at its initial 2000-01-01. storedText is the text the
    // date was read from; when it does not read as a date, or names one the edit cannot hold,
    // it is kept as the row's value until the user changes the date.
    void addItem(unsigned long long id, QString srcId, int type, QString label, QDateTime dateTime,
                 QString storedText = QString());
    // The value is "yyyy-MM-ddTHH:mm:ss" (local time, no zone suffix).
    QList<pim::Entity> toEntityList(QString typeKey, QString labelKey, QString valueKey) const;

    const QList<_Item>& rows() const { return items; }
    QToolButton* addButton() const { return btnAdd; }

protected slots:
    void add();
    void remove();

private:
    QMap<int, QString> typeMap;
    int defaultType;
    QGridLayout* gridLayout;
    QList<_Item> items;
    QToolButton* btnAdd;
};

// Instant-messaging addresses: type, service and handle per row.
// Keys: "data1" handle, "data2"/"data3" type code/custom type, "data5"/"data6" service
// code/custom service.
class IMEntitiesEditor : public QWidget {
    Q_OBJECT
public:
    struct _Item {
        unsigned long long id;
        QString srcId;
        QComboBox* cbType = nullptr;
        QComboBox* cbProtocol = nullptr;
        QLineEdit* leHandle = nullptr;
        QToolButton* btnRemove = nullptr;
        _Item(unsigned long long id_, QString srcId_) : id(id_), srcId(std::move(srcId_)) {}
    };

    IMEntitiesEditor(QString title, int defaultType, int defaultProtocol,
                     QWidget* parent = nullptr);
    ~IMEntitiesEditor() override;

    void addItem(const pim::Entity& entity);
    QList<pim::Entity> toEntityList() const;

    const QList<_Item>& rows() const { return items; }
    QToolButton* addButton() const { return btnAdd; }

protected slots:
    void add();
    void remove();

private:
    int defaultType;
    int defaultProtocol;
    QGridLayout* gridLayout;
    QList<_Item> items;
    QToolButton* btnAdd;
};

// Postal addresses: type and five address parts, four grid rows per address.
// Keys: "data2"/"data3" type, "data10" country, "data8" state, "data7" city, "data4" street,
// "data9" postcode, "data1" the formatted address.
class AddrEntitiesEditor : public QWidget {
    Q_OBJECT
public:
    struct _Item {
        unsigned long long id;
        QString srcId;
        QComboBox* cbType = nullptr;
        QLineEdit* leCountry = nullptr;
        QLineEdit* leState = nullptr;
        QLineEdit* leCity = nullptr;
        QTextEdit* teStreet = nullptr;
        QLineEdit* lePostcode = nullptr;
        QToolButton* btnRemove = nullptr;
        _Item(unsigned long long id_, QString srcId_) : id(id_), srcId(std::move(srcId_)) {}
    };

    AddrEntitiesEditor(QString title, int defaultType, QWidget* parent = nullptr);
    ~AddrEntitiesEditor() override;

    void addItem(pim::Entity entity);
    QList<pim::Entity> toEntityList() const;

    const QList<_Item>& rows() const { return items; }
    QToolButton* addButton() const { return btnAdd; }

protected slots:
    void add();
    void remove();

private:
    int defaultType;
    QGridLayout* gridLayout;
    QList<_Item> items;
    QToolButton* btnAdd;
};
