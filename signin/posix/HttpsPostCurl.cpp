// The token endpoint's POST through libcurl, trusting what the mail check's TLS trusts: OpenSSL's
// default paths (the system store, or SSL_CERT_FILE / SSL_CERT_DIR), the host name, TLS 1.2 at least.
#include <curl/curl.h>
#include <openssl/ssl.h>

#include <memory>
#include <mutex>

#include "signin/HttpsPost.h"

namespace {

struct Received {
    std::string body;
    size_t maxBytes = 0;
    bool tooLarge = false;
};

size_t Collect(char* data, size_t size, size_t count, void* userData) {
    auto& received = *static_cast<Received*>(userData);
    const size_t bytes = size * count;
    if (received.body.size() + bytes > received.maxBytes) {
        received.tooLarge = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    received.body.append(data, bytes);
    return bytes;
}

CURLcode UseDefaultTrust(CURL*, void* sslContext, void*) {
    return SSL_CTX_set_default_verify_paths(static_cast<SSL_CTX*>(sslContext)) == 1
               ? CURLE_OK
               : CURLE_SSL_CACERT_BADFILE;
}

void Require(CURLcode code) {
    if (code != CURLE_OK)
        throw ETokenEndpointError(std::string("Token request could not be set up: ") +
                                  curl_easy_strerror(code));
}

} // namespace

HttpsReply HttpsPostForm(const std::string& url, const std::string& formBody, int32_t timeoutMs,
                         size_t maxBytes) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        throw ETokenEndpointError(std::string_view("Token request could not be set up."));
    CURL* h = curl.get();
    Received received;
    received.maxBytes = maxBytes;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded"), curl_slist_free_all);
    headers.reset(curl_slist_append(headers.release(), "Accept: application/json"));
    Require(curl_easy_setopt(h, CURLOPT_URL, url.c_str()));
    Require(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https"));
    Require(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L));
    Require(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    Require(curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs)));
    Require(curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
    Require(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    Require(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    // No bundle of curl's own: the context callback loads the same trust as the mail check.
    Require(curl_easy_setopt(h, CURLOPT_CAINFO, nullptr));
    Require(curl_easy_setopt(h, CURLOPT_CAPATH, nullptr));
    Require(curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, UseDefaultTrust));
    Require(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()));
    Require(curl_easy_setopt(h, CURLOPT_POSTFIELDS, formBody.c_str()));
    Require(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(formBody.size())));
    Require(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect));
    Require(curl_easy_setopt(h, CURLOPT_WRITEDATA, &received));
    const CURLcode result = curl_easy_perform(h);
    if (received.tooLarge)
        throw ETokenEndpointError(std::string_view("Token endpoint's answer is too large."));
    if (result == CURLE_OPERATION_TIMEDOUT)
        throw ETokenEndpointError(std::string_view("Token endpoint did not answer in time."));
    if (result != CURLE_OK)
        throw ETokenEndpointError(std::string("Token endpoint unreachable: ") + curl_easy_strerror(result));
    HttpsReply reply;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply.Status);
    reply.Body = std::move(received.body);
    return reply;
}
