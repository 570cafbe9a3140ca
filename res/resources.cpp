#include "res/resources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE must be used outside any namespace.
void InitKestrowResources() {
    Q_INIT_RESOURCE(kestrow);
}
