#pragma once
// Base of the network components: each one is a user of the socket stack for its whole life.

#include "transport/SocketStack.h"

class TIdComponent {
public:
    TIdComponent() { AcquireStack(); }
    virtual ~TIdComponent() { ReleaseStack(); }
    TIdComponent(const TIdComponent&) = delete;
    TIdComponent& operator=(const TIdComponent&) = delete;
};
