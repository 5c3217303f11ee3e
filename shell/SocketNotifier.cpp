// The part of the socket notifier that every desktop back-end shares: the guarded handler.

#include "shell/SocketNotifier.h"

#include "shell/Application.h"

void SocketNotifier::Readable() {
    if (watching_ && onReadable_)
        Application->Guarded(onReadable_);
}
