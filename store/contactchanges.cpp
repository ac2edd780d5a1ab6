#include "contactchanges.h"

#include "edittransaction.h"
#include "localdb.h"

using namespace contactchanges;

void g_writeChanges(LocalDb& db, pim::_Contact& contact, QList<_ChangeData>& changes) {
    EditTransaction edit(db);
    if (contact._id == 0) {
        for (const _ChangeData& c : changes) {
            if (c.type == pim::ENTITY_NAME && c.action == ACTION_ADDED) {
                contact.fullName = c.entity.fullName();
                break;
            }
        }
        db.insertContactBase(contact);
    }
    for (_ChangeData& c : changes) {
        switch (c.action) {
            case ACTION_ADDED:
                db.insertEntity(contact._id, c.type, c.entity);
                break;
            case ACTION_UPDATED:
                db.updateEntity(c.type, c.entity);
                break;
            case ACTION_DELETED:
                db.removeEntity(c.entity._id);
                break;
        }
        // A name added to a stored contact renames it just as an updated one does.
        if (c.type == pim::ENTITY_NAME && c.action != ACTION_DELETED) {
            contact.fullName = c.entity.fullName();
            db.updateContactBase(contact);
        }
    }
    edit.commit();
}
