#pragma once
// Base of every object that can send an event, and the event type of the shell.

#include <functional>

class TObject {
public:
    virtual ~TObject() = default;
};

// An event handler: receives the component that raised the event.
using TNotifyEvent = std::function<void(TObject* sender)>;

// Binds a handler method of a window to an event, as a form definition does.
template <class Owner> TNotifyEvent MethodEvent(Owner* owner, void (Owner::*handler)(TObject*)) {
    return [owner, handler](TObject* sender) { (owner->*handler)(sender); };
}
