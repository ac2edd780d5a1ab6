// The scrollable form on which one contact is edited: single editors for the name, photo,
// nickname, organisation and notes, and row editors for every repeatable kind of detail.
// The edit dialog and the edit diff read its parts directly.
#pragma once

#include <QByteArray>
#include <QScrollArea>
#include <QString>

#include "entityeditors.h"
#include "store/pim.h"

class QLabel;
class QLineEdit;
class QTextEdit;
class QVBoxLayout;

class ContactEditor : public QScrollArea {
    Q_OBJECT
public:
    // Each single editor remembers the row id and source id of the entity it was loaded from
    // (0 and empty until then) and builds an entity from its widgets with trimmed texts.
    struct _NameEdit {  // type 1
        unsigned long long id = 0;
        QString srcId = QString(QLatin1String(""));
        QLineEdit* firstName = nullptr;   // "data2"
        QLineEdit* lastName = nullptr;    // "data3"
        QLineEdit* prefix = nullptr;      // "data5"
        QLineEdit* middleName = nullptr;  // "data4"
        QLineEdit* suffix = nullptr;      // "data6"
        void fillEntity(const pim::Entity& e);
        // "data5", "data2", "data4", "data3", "data6", then "data1" = fullName().
        pim::Entity toEntity() const;
    };
    struct _PhotoEdit {  // type 2
        unsigned long long id;
        QString srcId;
        QLabel* photoLabel;
        QByteArray photoData;  // "data15"; empty = no photo
        _PhotoEdit();
        void fillEntity(const pim::Entity& e);
        // Keeps the bytes whatever they hold; shows them when they decode as JPEG or PNG.
        void setPhoto(QByteArray bytes);
        // No photo: empty bytes, the empty-contact picture. id and srcId stay.
        void reset();
        // "data15" = the bytes, "data4" = their hash.
        pim::Entity toEntity() const;
    };
    struct _NicknameEdit {  // type 5
        unsigned long long id = 0;
        QString srcId = QString(QLatin1String(""));
        QLineEdit* nickname = nullptr;  // "data1"
        void fillEntity(const pim::Entity& e);
        // "data2" = 1 (the default nickname type), "data1".
        pim::Entity toEntity() const;
    };
    struct _OrgEdit {  // type 10
        unsigned long long id = 0;
        QString srcId = QString(QLatin1String(""));
        QLineEdit* jobTitle = nullptr;    // "data4"
        QLineEdit* department = nullptr;  // "data5"
        QLineEdit* company = nullptr;     // "data1"
        void fillEntity(const pim::Entity& e);
        pim::Entity toEntity() const;
    };
    struct _NotesEdit {  // type 9
        unsigned long long id = 0;
        QString srcId = QString(QLatin1String(""));
        QTextEdit* notes = nullptr;  // "data1", plain text
        void fillEntity(const pim::Entity& e);
        pim::Entity toEntity() const;
    };

    explicit ContactEditor(QWidget* parent = nullptr);
    ~ContactEditor() override;

    // Loads a contact into the freshly built form (a null contact loads nothing). Only the
    // first name, photo, nickname, organisation and note are shown; groups are not edited.
    void fillContact(const pim::_Contact* contact);

    QWidget* contentWidget = nullptr;
    QWidget* headerWidget = nullptr;
    QVBoxLayout* contentLayout = nullptr;
    _NameEdit nameEdit;
    _PhotoEdit photoEdit;
    _NicknameEdit nicknameEdit;
    _OrgEdit orgEdit;
    _NotesEdit notesEdit;
    GenericEntitiesEditor* phoneEditor = nullptr;
    GenericEntitiesEditor* emailEditor = nullptr;
    DateEntitiesEditor* eventEditor = nullptr;
    IMEntitiesEditor* imEditor = nullptr;
    GenericEntitiesEditor* relEditor = nullptr;
    AddrEntitiesEditor* addrEditor = nullptr;
    GenericEntitiesEditor* urlEditor = nullptr;
    QLabel* deletePhotoLabel = nullptr;

protected slots:
    void resetPhoto(QString);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void pickPhoto();
};
