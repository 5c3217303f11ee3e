#pragma once
// One HTTPS POST of a form to the token endpoint (libcurl on Linux, WinHTTP on Windows).

#include <cstddef>
#include <cstdint>
#include <string>

#include "signin/SignInErrors.h"

struct HttpsReply {
    long Status = 0;
    std::string Body;
};

// POSTs an application/x-www-form-urlencoded body to an https:// address, the server's certificate checked
// as the mail check checks it (system trust store, host name, TLS 1.2 at least). Raises
// ETokenEndpointError (signin/SignInErrors.h, derived from EIdException) when the server cannot be
// reached, the exchange takes longer than timeoutMs in all, or the answer is larger than maxBytes.
HttpsReply HttpsPostForm(const std::string& url, const std::string& formBody, int32_t timeoutMs,
                         size_t maxBytes);
