#include "entitycolumns.h"

namespace entitycolumns {

namespace {

const QString K_DATA4 = QStringLiteral("data4");
const QString K_DATA15 = QStringLiteral("data15");

}  // namespace

const TypeInfo* typeInfo(int type) {
    static const QVector<TypeInfo> table = [] {
        QVector<TypeInfo> t(14);
        auto set = [&t](int type, std::initializer_list<const char*> names) {
            TypeInfo& ti = t[type];
            QStringList marks, assigns;
            for (const char* n : names) {
                ti.cols << QLatin1String(n);
                marks << QStringLiteral("?");
                assigns << QLatin1String(n) + QStringLiteral("=?");
            }
            ti.insertSql = QStringLiteral("insert into data(contact_id,type,src_id,") +
                           ti.cols.join(QLatin1Char(',')) + QStringLiteral(") values(?,?,?,") +
                           marks.join(QLatin1Char(',')) + QStringLiteral(")");
            ti.updateSql = QStringLiteral("update data set src_id=?,") +
                           assigns.join(QLatin1Char(',')) + QStringLiteral(" where _id=?");
            ti.sortedCols = ti.cols;
            ti.sortedCols.sort();
            for (const QString& c : ti.cols) {
                if (c == K_DATA15)
                    ti.kinds << TypeInfo::BLOB;
                else if (type == pim::ENTITY_PHOTO && c == K_DATA4)
                    ti.kinds << TypeInfo::PHOTO_HASH;  // the hash of the image stored with it
                else
                    ti.kinds << TypeInfo::TEXT;
                if (ti.kinds.last() != TypeInfo::PHOTO_HASH)
                    ti.heldKeys << c;
            }
            ti.heldKeys.sort();
        };
        set(pim::ENTITY_NAME,
            {"data1", "data2", "data3", "data4", "data5", "data6", "data7", "data8"});
        set(pim::ENTITY_PHOTO, {"data4", "data15"});
        set(pim::ENTITY_PHONE, {"data1", "data2", "data3"});
        set(pim::ENTITY_EMAIL, {"data1", "data2", "data3"});
        set(pim::ENTITY_NICKNAME, {"data1", "data2", "data3"});
        set(pim::ENTITY_EVENT, {"data1", "data2", "data3"});
        set(pim::ENTITY_GROUP, {"data1", "data2"});
        set(pim::ENTITY_IM, {"data1", "data2", "data3", "data5", "data6"});
        set(pim::ENTITY_NOTES, {"data1"});
        set(pim::ENTITY_ORG,
            {"data1", "data2", "data3", "data4", "data5", "data6", "data7", "data9"});
        set(pim::ENTITY_REL, {"data1", "data2", "data3"});
        set(pim::ENTITY_ADDR, {"data1", "data2", "data3", "data4", "data5", "data6", "data7",
                               "data8", "data9", "data10", "data11"});
        set(pim::ENTITY_URL, {"data1", "data2", "data3"});
        return t;
    }();
    if (type < pim::ENTITY_NAME || type > pim::ENTITY_URL)
        return nullptr;
    return &table[type];
}

void holdRowKeys(int type, pim::Entity& entity) {
    const TypeInfo* ti = typeInfo(type);
    if (!ti)
        return;
    // Both in key order: one walk along the map.
    auto at = entity.fields.begin();
    for (const QString& key : ti->heldKeys) {
        int order = -1;
        while (at != entity.fields.end() && (order = keyOrder(at.key(), key)) < 0)
            ++at;
        if (at == entity.fields.end() || order > 0)
            at = entity.fields.insert(at, key, QVariant());
        ++at;
    }
}

void holdRowKeys(pim::_Contact& contact) {
    for (auto t = contact.entities.begin(); t != contact.entities.end(); ++t) {
        for (pim::Entity& e : t.value())
            holdRowKeys(t.key(), e);
    }
}

}  // namespace entitycolumns
