#pragma once
// The exceptions both mail protocols raise alike.

#include "transport/TransportErrors.h"

// TLS was required (or the server offered it) but the server does not offer or refuses the
// protocol's TLS command ("STLS", "STARTTLS").
BG_DECLARE_EXCEPTION(EIdTLSUnavailable, EIdException);
