#include "signin/RedirectListener.h"

#include <algorithm>

#include "signin/OAuthRequests.h"
#include "transport/NativeSockets.h"
#include "transport/SocketHandle.h"
#include "transport/SocketStack.h"
#include "transport/StackUser.h"
#include "transport/TransportErrors.h"

struct RedirectListener::Connection {
    TIdSocketHandle socket;
    std::string received;
    uint32_t startTicks = MillisecondTicks();
};

namespace {

std::string HtmlEscape(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '&':
            escaped += "&amp;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string HttpResponse(const char* status, const std::string& html) {
    return std::string("HTTP/1.1 ") + status +
           "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(html.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + html;
}

void SendAndClose(TIdSocketHandle& socket, const std::string& response) {
    try {
        const TIdBytes bytes(response.begin(), response.end());
        int32_t sent = 0;
        // Short answers to a peer on this machine: the socket takes them at once.
        while (sent < static_cast<int32_t>(bytes.size()) && socket.WaitWritable(1000))
            sent += socket.Send(bytes, -1, sent);
    } catch (const EIdException&) {
        // A peer that has gone needs no answer.
    }
    socket.CloseSocket();
}

} // namespace

RedirectListener::RedirectListener(std::string expectedState, RedirectPages pages)
    : expectedState_(std::move(expectedState)), pages_(std::move(pages)),
      listening_(std::make_unique<TIdSocketHandle>()) {
    listening_->Allocate(SOCK_STREAM, IPPROTO_TCP);
    listening_->SetIP(u"127.0.0.1");
    listening_->SetPort(0);
    listening_->Bind();
    listening_->Listen(8);
    listening_->SetNonBlocking(true);
}

RedirectListener::~RedirectListener() = default;

std::string RedirectListener::RedirectUri() const {
    return "http://127.0.0.1:" + std::to_string(listening_->Port()) + "/";
}

std::optional<RedirectOutcome> RedirectListener::Poll() {
    AcceptWaiting();
    std::optional<RedirectOutcome> outcome;
    std::erase_if(connections_, [&](const std::unique_ptr<Connection>& c) { return Serve(*c, outcome); });
    return outcome;
}

void RedirectListener::AcceptWaiting() {
    while (connections_.size() < 16) {
        auto connection = std::make_unique<Connection>();
        try {
            if (!listening_->Accept(connection->socket))
                return;
        } catch (const EIdSocketError&) {
            return; // a connection reset before it was taken: the next poll goes on
        }
        connections_.push_back(std::move(connection));
    }
}

bool RedirectListener::Serve(Connection& connection, std::optional<RedirectOutcome>& outcome) {
    try {
        while (connection.socket.WaitReadable(0)) {
            TIdBytes buffer(2048);
            const int32_t count = connection.socket.Receive(buffer);
            if (count <= 0) {
                connection.socket.CloseSocket();
                return true;
            }
            connection.received.append(buffer.begin(), buffer.begin() + count);
            if (connection.received.size() > MaxRequestBytes)
                break;
        }
    } catch (const EIdException&) {
        connection.socket.CloseSocket();
        return true;
    }
    const size_t headEnd = connection.received.find("\r\n\r\n");
    if (headEnd != std::string::npos && headEnd + 4 <= MaxRequestBytes) {
        auto answered = Answer(connection, connection.received.substr(0, headEnd));
        if (answered && !outcome)
            outcome = std::move(answered);
        return true;
    }
    if (connection.received.size() > MaxRequestBytes) {
        SendAndClose(connection.socket, HttpResponse("431 Request Header Fields Too Large", ""));
        return true;
    }
    if (TicksBetween(connection.startTicks, MillisecondTicks()) > IdleLimitMs) {
        connection.socket.CloseSocket();
        return true;
    }
    return false;
}

std::optional<RedirectOutcome> RedirectListener::Answer(Connection& connection, const std::string& head) {
    // "GET <target> HTTP/1.x"
    const std::string line = head.substr(0, head.find("\r\n"));
    const size_t firstBlank = line.find(' ');
    const size_t lastBlank = line.rfind(' ');
    if (firstBlank == std::string::npos || lastBlank == firstBlank || line.substr(0, firstBlank) != "GET") {
        SendAndClose(connection.socket, HttpResponse("400 Bad Request", ""));
        return std::nullopt;
    }
    const std::string target = line.substr(firstBlank + 1, lastBlank - firstBlank - 1);
    const size_t question = std::min(target.find('?'), target.size());
    if (target.substr(0, question) != "/") {
        SendAndClose(connection.socket, HttpResponse("404 Not Found", ""));
        return std::nullopt;
    }
    auto fields = ParseQuery(question < target.size() ? std::string_view(target).substr(question + 1) : "");
    if (fields["state"] != expectedState_ || (fields["code"].empty() && fields["error"].empty())) {
        SendAndClose(connection.socket, HttpResponse("400 Bad Request", ""));
        return std::nullopt;
    }
    RedirectOutcome outcome;
    if (!fields["error"].empty()) {
        outcome.Error = fields["error"];
        outcome.ErrorDescription = fields["error_description"];
        std::string detail = HtmlEscape(outcome.Error);
        if (!outcome.ErrorDescription.empty())
            detail += ": " + HtmlEscape(outcome.ErrorDescription);
        SendAndClose(connection.socket, HttpResponse("200 OK", pages_.Failed + detail));
    } else {
        outcome.Code = fields["code"];
        SendAndClose(connection.socket, HttpResponse("200 OK", pages_.SignedIn));
    }
    return outcome;
}
