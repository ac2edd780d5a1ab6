#include "contacteditor.h"

#include <QBuffer>
#include <QEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QResizeEvent>
#include <QTextEdit>
#include <QVBoxLayout>

#include "filedialogs.h"
#include "photoimage.h"
#include "resources/ui/uiresources.h"
#include "ui/fieldnames.h"

namespace {

const char* const kPhotoName = "lbPhoto";

QString text(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

void put(pim::Entity& e, const char* key, const QLineEdit* le) {
    e.fields[QLatin1String(key)] = le->text().trimmed();
}

QLineEdit* makeLine(QWidget* parent, QVBoxLayout* layout, const QString& placeholder) {
    auto* le = new QLineEdit(parent);
    le->setPlaceholderText(placeholder);
    g_nameField(le, placeholder);
    layout->addWidget(le);
    return le;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Single editors

void ContactEditor::_NameEdit::fillEntity(const pim::Entity& e) {
    id = e._id;
    srcId = e.srcId;
    prefix->setText(text(e, "data5"));
    firstName->setText(text(e, "data2"));
    middleName->setText(text(e, "data4"));
    lastName->setText(text(e, "data3"));
    suffix->setText(text(e, "data6"));
}

pim::Entity ContactEditor::_NameEdit::toEntity() const {
    pim::Entity e(id, srcId);
    put(e, "data5", prefix);
    put(e, "data2", firstName);
    put(e, "data4", middleName);
    put(e, "data3", lastName);
    put(e, "data6", suffix);
    e.fields[QStringLiteral("data1")] = e.fullName();
    return e;
}

ContactEditor::_PhotoEdit::_PhotoEdit() : id(0), srcId(QLatin1String("")), photoLabel(nullptr) {}

void ContactEditor::_PhotoEdit::fillEntity(const pim::Entity& e) {
    id = e._id;
    srcId = e.srcId;
    setPhoto(e.fields.value(QStringLiteral("data15")).toByteArray());
}

void ContactEditor::_PhotoEdit::setPhoto(QByteArray bytes) {
    photoData = std::move(bytes);
    const QImage img = g_decodePhoto(photoData);
    if (!img.isNull() && photoLabel)
        photoLabel->setPixmap(QPixmap::fromImage(img.scaledToWidth(64, Qt::FastTransformation)));
}

void ContactEditor::_PhotoEdit::reset() {
    photoData.clear();
    if (photoLabel) {
        photoLabel->setPixmap(QPixmap(QStringLiteral(":res/empty_contact.png"))
                                  .scaledToWidth(64, Qt::FastTransformation));
    }
}

pim::Entity ContactEditor::_PhotoEdit::toEntity() const {
    pim::Entity e(id, srcId);
    e.fields[QStringLiteral("data15")] = photoData;
    e.fields[QStringLiteral("data4")] = e.photoHash();
    return e;
}

void ContactEditor::_NicknameEdit::fillEntity(const pim::Entity& e) {
    id = e._id;
    srcId = e.srcId;
    nickname->setText(text(e, "data1"));
}

pim::Entity ContactEditor::_NicknameEdit::toEntity() const {
    pim::Entity e(id, srcId);
    e.fields[QStringLiteral("data2")] = 1;
    put(e, "data1", nickname);
    return e;
}

void ContactEditor::_OrgEdit::fillEntity(const pim::Entity& e) {
    id = e._id;
    srcId = e.srcId;
    jobTitle->setText(text(e, "data4"));
    department->setText(text(e, "data5"));
    company->setText(text(e, "data1"));
}

pim::Entity ContactEditor::_OrgEdit::toEntity() const {
    pim::Entity e(id, srcId);
    put(e, "data4", jobTitle);
    put(e, "data5", department);
    put(e, "data1", company);
    return e;
}

void ContactEditor::_NotesEdit::fillEntity(const pim::Entity& e) {
    id = e._id;
    srcId = e.srcId;
    // Literal text: a note that looks like markup must come back unchanged.
    notes->setPlainText(text(e, "data1"));
}

pim::Entity ContactEditor::_NotesEdit::toEntity() const {
    pim::Entity e(id, srcId);
    e.fields[QStringLiteral("data1")] = notes->toPlainText().trimmed();
    return e;
}

// ---------------------------------------------------------------------------------------------
// The form

ContactEditor::ContactEditor(QWidget* parent) : QScrollArea(parent) {
    tw_initUiResources();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    contentWidget = new QWidget(this);
    QPalette pal = palette();
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(0, 255, 0, 0)));
    contentWidget->setPalette(pal);
    setPalette(pal);

    contentLayout = new QVBoxLayout(contentWidget);
    contentLayout->setSizeConstraint(QLayout::SetFixedSize);
    contentLayout->setContentsMargins(20, 10, 20, 10);
    contentLayout->setSpacing(3);

    headerWidget = new QWidget(contentWidget);
    auto* headerLayout = new QHBoxLayout(headerWidget);
    headerLayout->setContentsMargins(0, 0, 0, 0);

    auto* photoColumn = new QWidget(headerWidget);
    auto* photoLayout = new QVBoxLayout(photoColumn);
    photoLayout->setContentsMargins(0, 0, 0, 0);
    photoEdit.photoLabel = new QLabel(photoColumn);
    photoEdit.photoLabel->setAccessibleName(QLatin1String(kPhotoName));
    photoEdit.photoLabel->setFixedSize(64, 64);
    photoEdit.photoLabel->installEventFilter(this);
    photoEdit.photoLabel->setCursor(Qt::PointingHandCursor);
    photoEdit.reset();
    photoLayout->addWidget(photoEdit.photoLabel, 0, Qt::AlignLeft | Qt::AlignTop);
    deletePhotoLabel = new QLabel(tr("<a href=\"#\">Delete Photo</a>"), photoColumn);
    connect(deletePhotoLabel, &QLabel::linkActivated, this, &ContactEditor::resetPhoto);
    photoLayout->addWidget(deletePhotoLabel, 0, Qt::AlignHCenter);
    headerLayout->addWidget(photoColumn, 0, Qt::AlignLeft | Qt::AlignTop);

    auto* nameColumn = new QWidget(headerWidget);
    auto* nameLayout = new QVBoxLayout(nameColumn);
    nameLayout->setContentsMargins(0, 0, 0, 0);
    nameEdit.prefix = makeLine(nameColumn, nameLayout, tr("Prefix"));
    nameEdit.firstName = makeLine(nameColumn, nameLayout, tr("First Name"));
    nameEdit.middleName = makeLine(nameColumn, nameLayout, tr("Middle Name"));
    nameEdit.lastName = makeLine(nameColumn, nameLayout, tr("Last Name"));
    nameEdit.suffix = makeLine(nameColumn, nameLayout, tr("Suffix"));
    nicknameEdit.nickname = makeLine(nameColumn, nameLayout, tr("Nickname"));
    orgEdit.jobTitle = makeLine(nameColumn, nameLayout, tr("Job Title"));
    orgEdit.department = makeLine(nameColumn, nameLayout, tr("Department"));
    orgEdit.company = makeLine(nameColumn, nameLayout, tr("Company"));
    headerLayout->addWidget(nameColumn);
    contentLayout->addWidget(headerWidget);

    phoneEditor = new GenericEntitiesEditor(tr("Phone:"), tr("Phone Number"), pim::phoneTypeMap(),
                                            2, contentWidget);
    emailEditor = new GenericEntitiesEditor(tr("E-Mail:"), tr("E-Mail Address"),
                                            pim::emailTypeMap(), 1, contentWidget);
    eventEditor =
        new DateEntitiesEditor(tr("Date (year-month-day):"), pim::eventTypeMap(), 3, contentWidget);
    imEditor = new IMEntitiesEditor(tr("IM:"), 1, 0, contentWidget);
    relEditor = new GenericEntitiesEditor(tr("Relationshp:"), tr("Name"), pim::relTypeMap(), 1,
                                          contentWidget);
    addrEditor = new AddrEntitiesEditor(tr("Address:"), 1, contentWidget);
    urlEditor =
        new GenericEntitiesEditor(tr("Url:"), tr("Url"), pim::urlTypeMap(), 1, contentWidget);
    for (QWidget* w : std::initializer_list<QWidget*>{phoneEditor, emailEditor, eventEditor,
                                                      imEditor, relEditor, addrEditor, urlEditor})
        contentLayout->addWidget(w, 0, Qt::AlignTop);

    auto* notesRow = new QWidget(contentWidget);
    auto* notesLayout = new QHBoxLayout(notesRow);
    notesLayout->setContentsMargins(0, 6, 0, 0);
    notesLayout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    auto* notesLabel = new QLabel(tr("Notes:"), notesRow);
    notesLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    notesLayout->addWidget(notesLabel, 0, Qt::AlignTop);
    notesEdit.notes = new QTextEdit(notesRow);
    notesEdit.notes->setAcceptRichText(false);
    g_nameField(notesEdit.notes, notesLabel->text());
    notesEdit.notes->setMaximumHeight(80);
    notesLayout->addWidget(notesEdit.notes, 0, Qt::AlignTop);
    contentLayout->addWidget(notesRow, 0, Qt::AlignTop);

    setWidget(contentWidget);
}

ContactEditor::~ContactEditor() = default;

void ContactEditor::fillContact(const pim::_Contact* contact) {
    if (!contact)
        return;
    const auto& all = contact->entities;
    auto first = [&all](int type, auto& editor) {
        const QList<pim::Entity> list = all.value(type);
        if (!list.isEmpty())
            editor.fillEntity(list.first());
    };
    auto generic = [&all](int type, GenericEntitiesEditor* editor) {
        for (const pim::Entity& e : all.value(type)) {
            editor->addItem(e._id, e.srcId, e.fields.value(QStringLiteral("data2")).toInt(),
                            text(e, "data3"), text(e, "data1"));
        }
    };

    first(pim::ENTITY_PHOTO, photoEdit);
    first(pim::ENTITY_NAME, nameEdit);
    first(pim::ENTITY_NICKNAME, nicknameEdit);
    first(pim::ENTITY_ORG, orgEdit);
    generic(pim::ENTITY_PHONE, phoneEditor);
    generic(pim::ENTITY_EMAIL, emailEditor);
    for (const pim::Entity& e : all.value(pim::ENTITY_EVENT)) {
        eventEditor->addItem(
            e._id, e.srcId, e.fields.value(QStringLiteral("data2")).toInt(), text(e, "data3"),
            DateEntitiesEditor::parseStoredDate(text(e, "data1")), text(e, "data1"));
    }
    for (const pim::Entity& e : all.value(pim::ENTITY_IM))
        imEditor->addItem(e);
    generic(pim::ENTITY_REL, relEditor);
    for (const pim::Entity& e : all.value(pim::ENTITY_ADDR))
        addrEditor->addItem(e);
    generic(pim::ENTITY_URL, urlEditor);
    first(pim::ENTITY_NOTES, notesEdit);
}

void ContactEditor::resetPhoto(QString) {
    photoEdit.reset();
}

void ContactEditor::resizeEvent(QResizeEvent* event) {
    // A pane narrower than the margins gets no minimum rather than a negative one.
    headerWidget->setMinimumWidth(qMax(0, width() - 40));
    QScrollArea::resizeEvent(event);
}

bool ContactEditor::eventFilter(QObject* watched, QEvent* event) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->accessibleName() != QLatin1String(kPhotoName) ||
        event->type() != QEvent::MouseButtonPress)
        return QScrollArea::eventFilter(watched, event);
    if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        pickPhoto();
    return true;
}

void ContactEditor::pickPhoto() {
    const QString path = g_editorOpenFileName(QStringLiteral("Images (*.png *.jpg)"));
    if (path.isEmpty())
        return;
    const QImage img = g_loadPhotoFile(path);
    if (img.isNull())
        return;
    const QImage scaled = img.scaled(320, 320, Qt::KeepAspectRatio, Qt::FastTransformation);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!scaled.save(&buffer, "JPEG"))
        return;
    photoEdit.setPhoto(bytes);
}
