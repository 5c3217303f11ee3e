#pragma once
// Window helpers: message pumping.

// Lets the message loop handle all pending window messages, then returns.
void ProcessPendingMessages();
