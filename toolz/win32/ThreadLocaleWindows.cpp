// The thread locale on Windows: GetThreadLocale, the user's locale unless the thread set its own.
#include "toolz/ThreadLocale.h"

#include <windows.h>

int32_t ThreadLocaleId() {
    return static_cast<int32_t>(GetThreadLocale());
}
