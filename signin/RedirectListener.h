#pragma once
// The one-shot receiver of the browser's redirect after the user signed in: a listening socket on
// 127.0.0.1 only, on a port the system picks, served without ever waiting. The caller polls it
// from the event loop. The request whose path is "/" and whose state matches gets the sign-in
// page and ends the wait with its code (or, for an "error=" redirect, its error). Any other
// request gets 404 (another path) or 400 (wrong or missing state, an oversized or malformed
// request) and the wait goes on. A connection that has sent no whole request within
// IdleLimitMs is dropped.
//
//     RedirectListener listener(pair.State, pages);
//     browser.Open(AuthorizeUrl(..., listener.RedirectUri(), ...));
//     while (!(outcome = listener.Poll())) ...  // from a timer

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/StackUser.h"

class TIdSocketHandle;

struct RedirectOutcome {
    std::string Code;             // empty when Error is set
    std::string Error;            // the redirect's error code ("access_denied" ...)
    std::string ErrorDescription; // its error_description, when it had one
};

// The pages the browser shows (UTF-8 HTML): after a sign-in, and after an error, whose text is
// followed by the error's code and description (HTML-escaped here).
struct RedirectPages {
    std::string SignedIn;
    std::string Failed;
};

class RedirectListener : private TIdComponent {
public:
    static constexpr size_t MaxRequestBytes = 8192;
    static constexpr uint32_t IdleLimitMs = 3000;

    // Binds 127.0.0.1 on an ephemeral port and listens. Raises EIdSocketError or
    // EIdCouldNotBindSocket.
    RedirectListener(std::string expectedState, RedirectPages pages);
    ~RedirectListener() override;

    // "http://127.0.0.1:<port>/"
    std::string RedirectUri() const;
    // Takes waiting connections, reads what each has sent, answers whole requests and drops idle
    // ones, without waiting: the outcome once the matching redirect came. Socket failures of one
    // connection only drop it.
    std::optional<RedirectOutcome> Poll();

private:
    struct Connection;
    void AcceptWaiting();
    // Reads what the connection has sent; true when it is finished with (answered or dropped).
    bool Serve(Connection& connection, std::optional<RedirectOutcome>& outcome);
    std::optional<RedirectOutcome> Answer(Connection& connection, const std::string& head);

    std::string expectedState_;
    RedirectPages pages_;
    std::unique_ptr<TIdSocketHandle> listening_;
    std::vector<std::unique_ptr<Connection>> connections_;
};
