#include "entityeditors.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <QToolButton>

#include "wheelguard.h"
#include "resources/ui/uiresources.h"
#include "ui/fieldnames.h"

namespace {

QGridLayout* makeGrid(QWidget* editor, const QString& title) {
    tw_initUiResources();
    auto* grid = new QGridLayout(editor);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(new QLabel(title, editor), 0, 0, 1, 1);
    return grid;
}

QToolButton* makeIconButton(QWidget* editor, const char* icon) {
    auto* btn = new QToolButton(editor);
    btn->setIconSize(QSize(16, 16));
    btn->setIcon(QIcon(QLatin1String(icon)));
    return btn;
}

// A row's type chooser is named after its section ("Phone type").
void nameType(QComboBox* cb, const QString& section) {
    cb->setAccessibleName(QCoreApplication::translate("EntityEditors", "%1 type").arg(section));
}

// An editable type chooser filled from a code-to-label map. The row's selection is the code
// when there is no custom label, else code 0; a custom label becomes the edit text.
QComboBox* makeCombo(QWidget* editor, int width, const QMap<int, QString>& map, int code,
                     const QString& label) {
    auto* cb = new QComboBox(editor);
    cb->setEditable(true);
    // Typed text must stay a custom label: an item inserted on Enter would carry no code.
    cb->setInsertPolicy(QComboBox::NoInsert);
    cb->setFixedSize(width, cb->sizeHint().height());
    cb->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    g_takeWheelOnlyWithFocus(cb);
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        cb->addItem(it.value(), it.key());
    const int index = cb->findData(label.isEmpty() ? code : 0);
    cb->setCurrentIndex(index < 0 ? 0 : index);
    if (!label.isEmpty())
        cb->setEditText(label);
    return cb;
}

// The combo's trimmed text: a label of one of its items gives that item's code and an empty
// custom label; anything else gives code 0 and the text as custom label.
void readCombo(const QComboBox* cb, pim::Entity& e, const QString& codeKey,
               const QString& labelKey) {
    const QString text = cb->currentText().trimmed();
    const int index = cb->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        e.fields[codeKey] = cb->itemData(index).toInt();
        e.fields[labelKey] = QString(QLatin1String(""));
    } else {
        e.fields[codeKey] = 0;
        e.fields[labelKey] = text;
    }
}

// Takes a row's widgets out of the grid. They are deleted once control is back in the event
// loop, since the remove button that asked for it is among them.
void dropWidgets(QGridLayout* grid, std::initializer_list<QWidget*> widgets) {
    for (QWidget* w : widgets) {
        grid->removeWidget(w);
        w->hide();
        w->deleteLater();
    }
}

// The grid row below every row placed so far; rows of removed items are never used again.
int nextGridRow(const QGridLayout* grid) {
    return grid->rowCount();
}

QString text(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

int code(const pim::Entity& e, const char* key) {
    return e.fields.value(QLatin1String(key)).toInt();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// GenericEntitiesEditor

GenericEntitiesEditor::GenericEntitiesEditor(QString title, QString placeholder_,
                                             QMap<int, QString> typeMap_, int defaultType_,
                                             QWidget* parent)
    : QWidget(parent),
      placeholder(std::move(placeholder_)),
      typeMap(std::move(typeMap_)),
      defaultType(defaultType_),
      gridLayout(makeGrid(this, title)) {
    // The rows' fields are named after the section.
    setAccessibleName(g_fieldName(title));
    btnAdd = makeIconButton(this, ":res/add.png");
    connect(btnAdd, &QToolButton::pressed, this, &GenericEntitiesEditor::add);
    gridLayout->addWidget(btnAdd, 0, 2, 1, 1);
}

GenericEntitiesEditor::~GenericEntitiesEditor() = default;

void GenericEntitiesEditor::addItem(unsigned long long id, QString srcId, int type, QString label,
                                    QString value) {
    _Item item(id, std::move(srcId));
    item.cbType = makeCombo(this, 100, typeMap, type, label);
    nameType(item.cbType, accessibleName());
    item.leValue = new QLineEdit(this);
    item.leValue->setPlaceholderText(placeholder);
    g_nameField(item.leValue, placeholder.isEmpty() ? accessibleName() : placeholder);
    item.leValue->setText(value);
    item.btnRemove = makeIconButton(this, ":res/remove.png");
    connect(item.btnRemove, &QToolButton::pressed, this, &GenericEntitiesEditor::remove);
    const int row = nextGridRow(gridLayout);
    gridLayout->addWidget(item.cbType, row, 0, 1, 1);
    gridLayout->addWidget(item.leValue, row, 1, 1, 1);
    gridLayout->addWidget(item.btnRemove, row, 2, 1, 1);
    items.append(item);
}

QList<pim::Entity> GenericEntitiesEditor::toEntityList(QString typeKey, QString labelKey,
                                                       QString valueKey) const {
    QList<pim::Entity> list;
    for (const _Item& item : items) {
        pim::Entity e(item.id, item.srcId);
        readCombo(item.cbType, e, typeKey, labelKey);
        e.fields[valueKey] = item.leValue->text().trimmed();
        list.append(e);
    }
    return list;
}

void GenericEntitiesEditor::add() {
    addItem(0, QString(), defaultType, QString(), QString());
}

void GenericEntitiesEditor::remove() {
    QObject* from = sender();
    for (int i = 0; i < items.size(); ++i) {
        const _Item& item = items.at(i);
        if (item.btnRemove == from) {
            dropWidgets(gridLayout, {item.cbType, item.leValue, item.btnRemove});
            items.removeAt(i);
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// DateEntitiesEditor

DateEntitiesEditor::DateEntitiesEditor(QString title, QMap<int, QString> typeMap_, int defaultType_,
                                       QWidget* parent)
    : QWidget(parent),
      typeMap(std::move(typeMap_)),
      defaultType(defaultType_),
      gridLayout(makeGrid(this, title)) {
    // The rows' fields are named after the section.
    setAccessibleName(g_fieldName(title));
    btnAdd = makeIconButton(this, ":res/add.png");
    connect(btnAdd, &QToolButton::pressed, this, &DateEntitiesEditor::add);
    gridLayout->addWidget(btnAdd, 0, 2, 1, 1);
}

DateEntitiesEditor::~DateEntitiesEditor() = default;

void DateEntitiesEditor::addItem(unsigned long long id, QString srcId, int type, QString label,
                                 QDateTime dateTime, QString storedText) {
    _Item item(id, std::move(srcId));
    item.cbType = makeCombo(this, 100, typeMap, type, label);
    nameType(item.cbType, accessibleName());
    item.dteValue = new QDateTimeEdit(this);
    item.dteValue->setAccessibleName(accessibleName());
    g_takeWheelOnlyWithFocus(item.dteValue);
    // A date without a year is shown and edited as month and day; its year stays.
    item.dteValue->setDisplayFormat(
        dateTime.date().year() == kNoYear ? QStringLiteral("MM-dd") : QStringLiteral("yyyy-MM-dd"));
    // The edit's default floor (1752) would silently move older dates, such as the year 1604
    // that phones store for a birthday without a year.
    item.dteValue->setMinimumDate(QDate(100, 1, 1));
    // The edit holds the wall-clock date and time as written, in a zone without daylight
    // saving: neither a zone suffix in the stored text nor a local clock change at midnight may
    // move the day or the time.
    item.dteValue->setTimeSpec(Qt::UTC);
    item.dteValue->setDateTime(QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC));
    const QDateTime wanted(dateTime.date(), dateTime.time(), Qt::UTC);
    if (dateTime.isValid())
        item.dteValue->setDateTime(wanted);
    // A date the edit cannot hold (it clamps to its range) counts as unread too, so that it is
    // not silently replaced by the nearest date the edit allows.
    if (!dateTime.isValid() || item.dteValue->dateTime() != wanted) {
        QString keep = storedText;
        if (keep.trimmed().isEmpty() && dateTime.isValid())
            keep = wanted.toString(QLatin1String(pim::DATE_TIME_FORMAT));
        if (!keep.trimmed().isEmpty()) {
            item.unreadText = keep;
            item.shownForUnread = item.dteValue->dateTime();
        }
    }
    item.btnRemove = makeIconButton(this, ":res/remove.png");
    connect(item.btnRemove, &QToolButton::pressed, this, &DateEntitiesEditor::remove);
    const int row = nextGridRow(gridLayout);
    gridLayout->addWidget(item.cbType, row, 0, 1, 1);
    gridLayout->addWidget(item.dteValue, row, 1, 1, 1);
    gridLayout->addWidget(item.btnRemove, row, 2, 1, 1);
    items.append(item);
}

QList<pim::Entity> DateEntitiesEditor::toEntityList(QString typeKey, QString labelKey,
                                                    QString valueKey) const {
    QList<pim::Entity> list;
    for (const _Item& item : items) {
        pim::Entity e(item.id, item.srcId);
        readCombo(item.cbType, e, typeKey, labelKey);
        const QDateTime shown = item.dteValue->dateTime();
        if (!item.unreadText.isEmpty() && shown == item.shownForUnread)
            e.fields[valueKey] = item.unreadText;
        else
            e.fields[valueKey] = shown.toString(QLatin1String(pim::DATE_TIME_FORMAT));
        list.append(e);
    }
    return list;
}

void DateEntitiesEditor::add() {
    // Today's wall-clock midnight, held without a zone: a local midnight skipped by a clock
    // change would read as no date.
    addItem(0, QString(), defaultType, QString(),
            QDateTime(QDate::currentDate(), QTime(0, 0), Qt::UTC));
}

void DateEntitiesEditor::remove() {
    QObject* from = sender();
    for (int i = 0; i < items.size(); ++i) {
        const _Item& item = items.at(i);
        if (item.btnRemove == from) {
            dropWidgets(gridLayout, {item.cbType, item.dteValue, item.btnRemove});
            items.removeAt(i);
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// IMEntitiesEditor

IMEntitiesEditor::IMEntitiesEditor(QString title, int defaultType_, int defaultProtocol_,
                                   QWidget* parent)
    : QWidget(parent),
      defaultType(defaultType_),
      defaultProtocol(defaultProtocol_),
      gridLayout(makeGrid(this, title)) {
    // The rows' fields are named after the section.
    setAccessibleName(g_fieldName(title));
    btnAdd = makeIconButton(this, ":res/add.png");
    connect(btnAdd, &QToolButton::pressed, this, &IMEntitiesEditor::add);
    gridLayout->addWidget(btnAdd, 0, 3, 1, 1);
}

IMEntitiesEditor::~IMEntitiesEditor() = default;

void IMEntitiesEditor::addItem(const pim::Entity& entity) {
    _Item item(entity._id, entity.srcId);
    item.cbType =
        makeCombo(this, 60, pim::imTypeMap(), code(entity, "data2"), text(entity, "data3"));
    // The service follows its code alone; a custom service name only sets the edit text.
    auto* cb = makeCombo(this, 100, pim::imProtocolMap(), code(entity, "data5"), QString());
    const QString customService = text(entity, "data6");
    if (!customService.isEmpty())
        cb->setEditText(customService);
    item.cbProtocol = cb;
    nameType(item.cbType, accessibleName());
    item.cbProtocol->setAccessibleName(tr("%1 service").arg(accessibleName()));
    item.leHandle = new QLineEdit(this);
    item.leHandle->setAccessibleName(accessibleName());
    item.leHandle->setText(text(entity, "data1"));
    item.btnRemove = makeIconButton(this, ":res/remove.png");
    connect(item.btnRemove, &QToolButton::pressed, this, &IMEntitiesEditor::remove);
    const int row = nextGridRow(gridLayout);
    gridLayout->addWidget(item.cbType, row, 0, 1, 1);
    gridLayout->addWidget(item.cbProtocol, row, 1, 1, 1);
    gridLayout->addWidget(item.leHandle, row, 2, 1, 1);
    gridLayout->addWidget(item.btnRemove, row, 3, 1, 1);
    items.append(item);
}

QList<pim::Entity> IMEntitiesEditor::toEntityList() const {
    QList<pim::Entity> list;
    for (const _Item& item : items) {
        pim::Entity e(item.id, item.srcId);
        readCombo(item.cbType, e, QStringLiteral("data2"), QStringLiteral("data3"));
        readCombo(item.cbProtocol, e, QStringLiteral("data5"), QStringLiteral("data6"));
        e.fields[QStringLiteral("data1")] = item.leHandle->text().trimmed();
        list.append(e);
    }
    return list;
}

void IMEntitiesEditor::add() {
    pim::Entity e;
    e.fields[QStringLiteral("data2")] = defaultType;
    e.fields[QStringLiteral("data5")] = defaultProtocol;
    addItem(e);
}

void IMEntitiesEditor::remove() {
    QObject* from = sender();
    for (int i = 0; i < items.size(); ++i) {
        const _Item& item = items.at(i);
        if (item.btnRemove == from) {
            dropWidgets(gridLayout, {item.cbType, item.cbProtocol, item.leHandle, item.btnRemove});
            items.removeAt(i);
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// AddrEntitiesEditor

AddrEntitiesEditor::AddrEntitiesEditor(QString title, int defaultType_, QWidget* parent)
    : QWidget(parent), defaultType(defaultType_), gridLayout(makeGrid(this, title)) {
    // The rows' fields are named after the section.
    setAccessibleName(g_fieldName(title));
    btnAdd = makeIconButton(this, ":res/add.png");
    connect(btnAdd, &QToolButton::pressed, this, &AddrEntitiesEditor::add);
    gridLayout->addWidget(btnAdd, 0, 3, 1, 1);
}

AddrEntitiesEditor::~AddrEntitiesEditor() = default;

void AddrEntitiesEditor::addItem(pim::Entity entity) {
    _Item item(entity._id, entity.srcId);
    item.cbType =
        makeCombo(this, 60, pim::addrTypeMap(), code(entity, "data2"), text(entity, "data3"));
    nameType(item.cbType, accessibleName());

    item.leCountry = new QLineEdit(this);
    item.leCountry->setPlaceholderText(tr("Country"));
    g_nameField(item.leCountry, item.leCountry->placeholderText());
    item.leCountry->setText(text(entity, "data10"));

    item.leState = new QLineEdit(this);
    item.leState->setPlaceholderText(tr("State"));
    g_nameField(item.leState, item.leState->placeholderText());
    item.leState->setText(text(entity, "data8"));
    item.leState->setFixedWidth(60);
    item.leState->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    item.leCity = new QLineEdit(this);
    item.leCity->setPlaceholderText(tr("City"));
    g_nameField(item.leCity, item.leCity->placeholderText());
    item.leCity->setText(text(entity, "data7"));

    item.teStreet = new QTextEdit(this);
    item.teStreet->setAcceptRichText(false);
    item.teStreet->setAccessibleName(tr("Street"));
    item.teStreet->setPlainText(text(entity, "data4"));
    item.teStreet->setMaximumHeight(60);
    item.teStreet->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    item.lePostcode = new QLineEdit(this);
    item.lePostcode->setPlaceholderText(tr("Postcode"));
    g_nameField(item.lePostcode, item.lePostcode->placeholderText());
    item.lePostcode->setText(text(entity, "data9"));

    item.btnRemove = makeIconButton(this, ":res/remove.png");
    item.btnRemove->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(item.btnRemove, &QToolButton::pressed, this, &AddrEntitiesEditor::remove);

    const int r = nextGridRow(gridLayout);
    gridLayout->addWidget(item.cbType, r, 0, 1, 1);
    gridLayout->addWidget(item.leCountry, r, 1, 1, 2);
    gridLayout->addWidget(item.btnRemove, r, 3, 1, 1);
    gridLayout->addWidget(item.leState, r + 1, 1, 1, 1);
    gridLayout->addWidget(item.leCity, r + 1, 2, 1, 1);
    gridLayout->addWidget(item.teStreet, r + 2, 1, 1, 2);
    gridLayout->addWidget(item.lePostcode, r + 3, 1, 1, 2);
    items.append(item);
}

QList<pim::Entity> AddrEntitiesEditor::toEntityList() const {
    QList<pim::Entity> list;
    for (const _Item& item : items) {
        pim::Entity e(item.id, item.srcId);
        readCombo(item.cbType, e, QStringLiteral("data2"), QStringLiteral("data3"));
        e.fields[QStringLiteral("data10")] = item.leCountry->text().trimmed();
        e.fields[QStringLiteral("data8")] = item.leState->text().trimmed();
        e.fields[QStringLiteral("data7")] = item.leCity->text().trimmed();
        e.fields[QStringLiteral("data4")] = item.teStreet->toPlainText().trimmed();
        e.fields[QStringLiteral("data9")] = item.lePostcode->text().trimmed();
        e.fields[QStringLiteral("data1")] = e.formattedAddr();
        list.append(e);
    }
    return list;
}

void AddrEntitiesEditor::add() {
    pim::Entity e;
    e.fields[QStringLiteral("data2")] = defaultType;
    addItem(e);
}

void AddrEntitiesEditor::remove() {
    QObject* from = sender();
    for (int i = 0; i < items.size(); ++i) {
        const _Item& item = items.at(i);
        if (item.btnRemove == from) {
            dropWidgets(gridLayout, {item.cbType, item.leCountry, item.leState, item.leCity,
                                     item.teStreet, item.lePostcode, item.btnRemove});
            items.removeAt(i);
            return;
        }
    }
}
