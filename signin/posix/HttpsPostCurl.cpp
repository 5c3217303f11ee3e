// The token endpoint's POST through libcurl, trusting what the mail check's TLS trusts (the system
// store, or SSL_CERT_FILE / SSL_CERT_DIR: LoadSystemTrust), the host name, TLS 1.2 at least.
// libcurl is opened at the first request: a password user never maps it and its dependencies.
#include <curl/curl.h>
#include <openssl/ssl.h>

#include <memory>
#include <mutex>

#include "base/RuntimeLibrary.h"
#include "signin/HttpsPost.h"
#include "transport/OpenSslSession.h"

namespace {

// libcurl's functions, bound once; the header gives their types.
struct Curl {
    RuntimeLibrary library{"libcurl.so.4"};
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_perform) easyPerform = nullptr;
    decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&curl_easy_strerror) easyStrerror = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;

    Curl() {
        library.Bind(globalInit, "curl_global_init");
        library.Bind(easyInit, "curl_easy_init");
        library.Bind(easyCleanup, "curl_easy_cleanup");
        library.Bind(easySetopt, "curl_easy_setopt");
        library.Bind(easyPerform, "curl_easy_perform");
        library.Bind(easyGetinfo, "curl_easy_getinfo");
        library.Bind(easyStrerror, "curl_easy_strerror");
        library.Bind(slistAppend, "curl_slist_append");
        library.Bind(slistFreeAll, "curl_slist_free_all");
        if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw ETokenEndpointError(
                std::string_view("Token request could not be set up: libcurl did not start."));
    }
};

// The library for the rest of the run, opened by the first request. A failure raises
// ETokenEndpointError naming the missing library, and the next request tries again.
const Curl& TheCurl() {
    static std::mutex opening;
    static std::unique_ptr<Curl> curl;
    std::lock_guard lock(opening);
    if (!curl) {
        try {
            curl = std::make_unique<Curl>();
        } catch (const ELibraryUnavailable& e) {
            throw ETokenEndpointError(u"Token request needs the HTTPS library: " + e.Message());
        }
    }
    return *curl;
}

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
    return LoadSystemTrust(static_cast<SSL_CTX*>(sslContext)) ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
}

void Require(const Curl& curl, CURLcode code) {
    if (code != CURLE_OK)
        throw ETokenEndpointError(std::string("Token request could not be set up: ") +
                                  curl.easyStrerror(code));
}

} // namespace

HttpsReply HttpsPostForm(const std::string& url, const std::string& formBody, int32_t timeoutMs,
                         size_t maxBytes) {
    const Curl& c = TheCurl();
    std::unique_ptr<CURL, decltype(c.easyCleanup)> curl(c.easyInit(), c.easyCleanup);
    if (!curl)
        throw ETokenEndpointError(std::string_view("Token request could not be set up."));
    CURL* h = curl.get();
    Received received;
    received.maxBytes = maxBytes;
    std::unique_ptr<curl_slist, decltype(c.slistFreeAll)> headers(
        c.slistAppend(nullptr, "Content-Type: application/x-www-form-urlencoded"), c.slistFreeAll);
    headers.reset(c.slistAppend(headers.release(), "Accept: application/json"));
    Require(c, c.easySetopt(h, CURLOPT_URL, url.c_str()));
    Require(c, c.easySetopt(h, CURLOPT_PROTOCOLS_STR, "https"));
    Require(c, c.easySetopt(h, CURLOPT_FOLLOWLOCATION, 0L));
    Require(c, c.easySetopt(h, CURLOPT_NOSIGNAL, 1L));
    Require(c, c.easySetopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs)));
    Require(c, c.easySetopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
    Require(c, c.easySetopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    Require(c, c.easySetopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    // No bundle of curl's own: the context callback loads the same trust as the mail check.
    Require(c, c.easySetopt(h, CURLOPT_CAINFO, nullptr));
    Require(c, c.easySetopt(h, CURLOPT_CAPATH, nullptr));
    Require(c, c.easySetopt(h, CURLOPT_SSL_CTX_FUNCTION, UseDefaultTrust));
    Require(c, c.easySetopt(h, CURLOPT_HTTPHEADER, headers.get()));
    Require(c, c.easySetopt(h, CURLOPT_POSTFIELDS, formBody.c_str()));
    Require(c, c.easySetopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(formBody.size())));
    Require(c, c.easySetopt(h, CURLOPT_WRITEFUNCTION, Collect));
    Require(c, c.easySetopt(h, CURLOPT_WRITEDATA, &received));
    const CURLcode result = c.easyPerform(h);
    if (received.tooLarge)
        throw ETokenEndpointError(std::string_view("Token endpoint's answer is too large."));
    if (result == CURLE_OPERATION_TIMEDOUT)
        throw ETokenEndpointError(std::string_view("Token endpoint did not answer in time."));
    if (result != CURLE_OK)
        throw ETokenEndpointError(std::string("Token endpoint unreachable: ") + c.easyStrerror(result));
    HttpsReply reply;
    c.easyGetinfo(h, CURLINFO_RESPONSE_CODE, &reply.Status);
    reply.Body = std::move(received.body);
    return reply;
}
