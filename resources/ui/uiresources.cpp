#include "uiresources.h"

#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initResources() {
    Q_INIT_RESOURCE(tw_ui_res);
}

void tw_initUiResources() {
    static std::once_flag once;
    std::call_once(once, initResources);
}
