// The token endpoint's POST over WinHTTP, the system's HTTP client: its TLS and certificate check are the
// system's (trusted roots, host name, date), restricted to TLS 1.2 and later. No proxy is consulted and
// no redirect followed: the request goes to the address given or nowhere. The whole exchange is bounded
// by one deadline, which every blocking step gets as its time-out; the exchange runs on a thread of its
// own, so that the caller gets its answer or the time-out by the deadline even where the system's
// time-outs start again with every byte (a server that drips its headers).
#include "signin/HttpsPost.h"

#include <windows.h>

#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/WindowsText.h"

namespace {

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

constexpr DWORD ReadChunk = 8192;

// A WinHTTP handle closed with its owner.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_)
            WinHttpCloseHandle(handle_);
    }
    InternetHandle(InternetHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

struct EndpointAddress {
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring pathAndQuery;
};

[[noreturn]] void RaiseUnreachable(const std::u16string& reason) {
    throw ETokenEndpointError(u"Token endpoint unreachable: " + reason);
}

[[noreturn]] void RaiseUnusableAddress(const std::u16string& reason) {
    throw ETokenEndpointError(u"Token request could not be set up: " + reason);
}

[[noreturn]] void RaiseTimeout() {
    throw ETokenEndpointError(std::string_view("Token endpoint did not answer in time."));
}

[[noreturn]] void RaiseTooLarge() {
    throw ETokenEndpointError(std::string_view("Token endpoint's answer is too large."));
}

// The tip's text for a failed WinHTTP call. Some systems pass the socket's own error numbers on.
[[noreturn]] void RaiseFailure(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        RaiseTimeout();
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
        RaiseUnreachable(u"cannot connect.");
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
        RaiseUnreachable(u"the connection was lost.");
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        RaiseUnreachable(u"host not found.");
    case ERROR_WINHTTP_SECURE_INVALID_CA:
        RaiseUnreachable(u"certificate from an authority that is not trusted.");
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        RaiseUnreachable(u"certificate is for another host.");
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        RaiseUnreachable(u"certificate has expired or is not yet valid.");
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        RaiseUnreachable(u"certificate has been revoked.");
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        RaiseUnreachable(u"the secure connection failed (certificate or TLS version).");
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
        RaiseUnreachable(u"the answer is not HTTP.");
    default:
        RaiseUnreachable(u"WinHTTP error " + AsciiToText(std::to_string(error)) + u".");
    }
}

// The reason of a refused certificate, which WinHTTP gives only to the status callback.
void CALLBACK NoteSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && information)
        *reinterpret_cast<DWORD*>(context) = *static_cast<DWORD*>(information);
}

DWORD ErrorOfSecureFailure(DWORD flags) {
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)
        return ERROR_WINHTTP_SECURE_INVALID_CA;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
        return ERROR_WINHTTP_SECURE_CERT_CN_INVALID;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        return ERROR_WINHTTP_SECURE_CERT_DATE_INVALID;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED)
        return ERROR_WINHTTP_SECURE_CERT_REVOKED;
    return ERROR_WINHTTP_SECURE_FAILURE;
}

void Check(BOOL succeeded) {
    if (!succeeded)
        RaiseFailure(GetLastError());
}

EndpointAddress CrackHttpsAddress(const std::string& url) {
    const std::u16string text = Utf8ToText(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (text.empty() || text.find(u'\0') != std::u16string::npos ||
        !WinHttpCrackUrl(WideChars(text), static_cast<DWORD>(text.size()), 0, &parts) ||
        parts.dwHostNameLength == 0)
        RaiseUnusableAddress(u"the address is not valid.");
    // A token never travels in the clear.
    if (parts.nScheme != INTERNET_SCHEME_HTTPS)
        RaiseUnusableAddress(u"the address is not https.");
    EndpointAddress address;
    address.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    address.port = parts.nPort;
    address.pathAndQuery.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    address.pathAndQuery.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (address.pathAndQuery.empty())
        address.pathAndQuery = L"/";
    return address;
}

// The time left of the whole exchange; each blocking WinHTTP step gets it as its time-out.
class Deadline {
public:
    explicit Deadline(int32_t timeoutMs)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 1)) {}
    std::chrono::steady_clock::time_point End() const { return end_; }

    // Gives the request the time left; raises the time-out once none is left.
    void Arm(HINTERNET request) const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now())
                .count();
        if (left <= 0)
            RaiseTimeout();
        const int ms = static_cast<int>(left);
        Check(WinHttpSetTimeouts(request, ms, ms, ms, ms));
        DWORD headersMs = static_cast<DWORD>(ms);
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersMs, sizeof headersMs);
    }

private:
    std::chrono::steady_clock::time_point end_;
};

InternetHandle OpenSession() {
    InternetHandle session(WinHttpOpen(L"Brevgluggen", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    Check(static_cast<bool>(session));
    // TLS 1.3 where the system has it; a system that does not know the flag is asked for TLS 1.2 alone.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        Check(WinHttpSetOption(session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols));
    }
    return session;
}

InternetHandle OpenRequest(HINTERNET connection, const EndpointAddress& address) {
    static const wchar_t* acceptTypes[] = {L"application/json", nullptr};
    InternetHandle request(WinHttpOpenRequest(connection, L"POST", address.pathAndQuery.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, acceptTypes, WINHTTP_FLAG_SECURE));
    Check(static_cast<bool>(request));
    // A token request is never sent on to another address, and keeps no cookies.
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
    Check(WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled));
    WinHttpSetStatusCallback(request.Get(), NoteSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    return request;
}

DWORD NumberHeader(HINTERNET request, DWORD which) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!WinHttpQueryHeaders(request, which | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value,
                             &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return value;
}

std::string ReadBody(HINTERNET request, const Deadline& deadline, size_t maxBytes) {
    std::string body;
    std::vector<char> chunk(ReadChunk);
    for (;;) {
        deadline.Arm(request);
        DWORD read = 0;
        Check(WinHttpReadData(request, chunk.data(), ReadChunk, &read));
        if (read == 0)
            return body;
        if (read > maxBytes - body.size())
            RaiseTooLarge();
        body.append(chunk.data(), read);
    }
}

HttpsReply Exchange(const EndpointAddress& address, const std::string& formBody, const Deadline& deadline,
                    size_t maxBytes) {
    const InternetHandle session = OpenSession();
    const InternetHandle connection(WinHttpConnect(session.Get(), address.host.c_str(), address.port, 0));
    Check(static_cast<bool>(connection));
    const InternetHandle request = OpenRequest(connection.Get(), address);

    static const wchar_t formType[] = L"Content-Type: application/x-www-form-urlencoded\r\n";
    const DWORD length = static_cast<DWORD>(formBody.size());
    DWORD secureFailure = 0;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&secureFailure);
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    deadline.Arm(request.Get());
    if (!WinHttpSendRequest(request.Get(), formType, static_cast<DWORD>(-1),
                            const_cast<char*>(formBody.data()), length, length, 0)) {
        const DWORD error = GetLastError();
        RaiseFailure(error == ERROR_WINHTTP_SECURE_FAILURE ? ErrorOfSecureFailure(secureFailure) : error);
    }
    deadline.Arm(request.Get());
    Check(WinHttpReceiveResponse(request.Get(), nullptr));

    HttpsReply reply;
    reply.Status = static_cast<long>(NumberHeader(request.Get(), WINHTTP_QUERY_STATUS_CODE));
    if (NumberHeader(request.Get(), WINHTTP_QUERY_CONTENT_LENGTH) > maxBytes)
        RaiseTooLarge();
    reply.Body = ReadBody(request.Get(), deadline, maxBytes);
    return reply;
}

// The outcome of an exchange, shared by its thread and the caller, who may have stopped waiting.
struct Outcome {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    HttpsReply reply;
    std::exception_ptr failure;
};

// How long past the deadline the caller waits for the exchange's own, more precise failure.
constexpr auto Grace = std::chrono::milliseconds(250);

} // namespace

HttpsReply HttpsPostForm(const std::string& url, const std::string& formBody, int32_t timeoutMs,
                         size_t maxBytes) {
    const EndpointAddress address = CrackHttpsAddress(url);
    const Deadline deadline(timeoutMs);
    const auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, address, formBody, deadline, maxBytes] {
        HttpsReply reply;
        std::exception_ptr failure;
        try {
            reply = Exchange(address, formBody, deadline, maxBytes);
        } catch (...) {
            failure = std::current_exception();
        }
        const std::lock_guard lock(outcome->mutex);
        outcome->reply = std::move(reply);
        outcome->failure = failure;
        outcome->done = true;
        outcome->ended.notify_all();
    }).detach();

    std::unique_lock lock(outcome->mutex);
    if (!outcome->ended.wait_until(lock, deadline.End() + Grace, [&] { return outcome->done; }))
        RaiseTimeout();
    if (outcome->failure)
        std::rethrow_exception(outcome->failure);
    return std::move(outcome->reply);
}
