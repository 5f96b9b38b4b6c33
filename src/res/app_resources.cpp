#include "res/app_resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the initialiser in the enclosing namespace, so this stays global.
static int RegisterResources() {
    Q_INIT_RESOURCE(resources);
    return 0;
}

void InitAppResources() {
    [[maybe_unused]] static const int registered = RegisterResources();
}
