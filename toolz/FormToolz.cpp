#include "toolz/FormToolz.h"

#include "shell/Forms.h"

void ProcessPendingMessages() {
    if (Application)
        Application->ProcessMessages();
}
