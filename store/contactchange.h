// One entity that an edit adds, updates or deletes: the editor makes these records, the store
// writes them and the device road sends them to a phone.
#pragma once

#include "pim.h"

#include <utility>

struct ContactChange {
    enum Action { ACTION_ADDED = 1, ACTION_UPDATED = 2, ACTION_DELETED = 3 };

    int type;
    Action action;
    pim::Entity entity;
    ContactChange() : type(0), action(ACTION_ADDED) {}
    ContactChange(int type_, Action action_, pim::Entity entity_)
        : type(type_), action(action_), entity(std::move(entity_)) {}
};
