// The TLS back-end of the Windows build: the system's own TLS (SChannel) over our socket. The
// handshake asks for TLS 1.2 or newer and checks what was negotiated; the server's certificate is
// validated here, not by SChannel: its chain against the system's trust, then the SSL policy,
// then the name (or the IP address) the user typed.
#define SECURITY_WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/Text.h"
#include "base/WindowsText.h"
#include "transport/ErrorTexts.h"
#include "transport/Messages.h"
#include "transport/TlsSession.h"
#include "transport/TransportErrors.h"

namespace {

constexpr size_t ReceiveChunk = 16 * 1024 + 512;
constexpr size_t TlsRecordHeader = 5;
constexpr ULONG RequestFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

// The system's text for a status, else its number: a reason is never empty.
std::u16string StatusText(SECURITY_STATUS status) {
    const std::u16string text = SystemErrorText(static_cast<uint32_t>(status));
    if (!text.empty())
        return text;
    static constexpr char16_t Hex[] = u"0123456789ABCDEF";
    std::u16string code = u"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        code += Hex[(static_cast<uint32_t>(status) >> shift) & 0xF];
    return code;
}

[[noreturn]] void ThrowHandshakeFailed(const std::u16string& reason) {
    throw EIdTLSError(AsciiToText(RSTlsHandshakeFailed) + reason);
}

// ---- The process-wide credentials ----

// One credential handle for every connection: SChannel keeps its session cache per handle, so
// a later connection to the same server can resume. TLS 1.3 where the system has it.
class TSharedCredentials {
public:
    static CredHandle* Get() {
        static TSharedCredentials credentials;
        std::lock_guard guard(credentials.lock_);
        if (!credentials.acquired_)
            credentials.Acquire();
        return &credentials.handle_;
    }

private:
    void Acquire() {
        SECURITY_STATUS status = SEC_E_INTERNAL_ERROR;
        for (const DWORD protocols :
             {DWORD(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT), DWORD(SP_PROT_TLS1_2_CLIENT)}) {
            SCHANNEL_CRED settings{};
            settings.dwVersion = SCHANNEL_CRED_VERSION;
            settings.grbitEnabledProtocols = protocols;
            settings.dwFlags =
                SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
            status =
                AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                          nullptr, &settings, nullptr, nullptr, &handle_, nullptr);
            if (status == SEC_E_OK) {
                acquired_ = true;
                return;
            }
        }
        throw EIdTLSError(AsciiToText(RSTlsNotAvailable) + StatusText(status));
    }

    std::mutex lock_;
    CredHandle handle_{};
    bool acquired_ = false;
};

// ---- Certificate validation ----

bool IsAddressLiteral(const std::string& host, std::vector<uint8_t>& address) {
    in6_addr bytes6{};
    in_addr bytes4{};
    if (inet_pton(AF_INET, host.c_str(), &bytes4) == 1) {
        const auto* begin = reinterpret_cast<const uint8_t*>(&bytes4);
        address.assign(begin, begin + sizeof bytes4);
        return true;
    }
    if (inet_pton(AF_INET6, host.c_str(), &bytes6) == 1) {
        const auto* begin = reinterpret_cast<const uint8_t*>(&bytes6);
        address.assign(begin, begin + sizeof bytes6);
        return true;
    }
    return false;
}

// Whether one of the certificate's subject alternative names passes the test.
template <class Test> bool AnyAlternativeName(PCCERT_CONTEXT certificate, Test test) {
    const CERT_EXTENSION* extension = CertFindExtension(
        szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension, certificate->pCertInfo->rgExtension);
    if (extension == nullptr)
        return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i)
        found = test(names->rgAltEntry[i]);
    LocalFree(names);
    return found;
}

bool CertificateNamesAddress(PCCERT_CONTEXT certificate, const std::vector<uint8_t>& address) {
    return AnyAlternativeName(certificate, [&address](const CERT_ALT_NAME_ENTRY& entry) {
        return entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
               entry.IPAddress.cbData == address.size() &&
               std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
    });
}

// The SSL policy falls back to the common name when a certificate lists no DNS name; a common
// name that looks like the host is no proof, so such a certificate names no host at all.
bool CertificateListsNames(PCCERT_CONTEXT certificate) {
    return AnyAlternativeName(certificate, [](const CERT_ALT_NAME_ENTRY& entry) {
        return entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME;
    });
}

class TChain {
public:
    explicit TChain(PCCERT_CONTEXT certificate) {
        LPSTR serverUse = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
        CERT_CHAIN_PARA parameters{};
        parameters.cbSize = sizeof parameters;
        parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
        parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
        parameters.RequestedUsage.Usage.rgpszUsageIdentifier = &serverUse;
        // The intermediates the server sent are in the certificate's own store.
        if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters, 0,
                                     nullptr, &chain_))
            throw EIdTLSCertificateRejected(CertificateFaultText(
                CertificateFault::Other, u"", StatusText(static_cast<SECURITY_STATUS>(GetLastError()))));
    }
    ~TChain() { CertFreeCertificateChain(chain_); }
    TChain(const TChain&) = delete;
    TChain& operator=(const TChain&) = delete;

    PCCERT_CHAIN_CONTEXT Get() const { return chain_; }
    DWORD ErrorStatus() const { return chain_->TrustStatus.dwErrorStatus; }
    bool SelfSigned() const { return chain_->cChain > 0 && chain_->rgpChain[0]->cElement == 1; }

private:
    PCCERT_CHAIN_CONTEXT chain_ = nullptr;
};

// The SSL policy's verdict on the chain: 0, or the reason it was refused. With a name it is
// checked as well; an address is checked by the caller.
DWORD SslPolicyError(const TChain& chain, const std::u16string* serverName) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = serverName ? const_cast<wchar_t*>(WideChars(*serverName)) : nullptr;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Get(), &policy, &status))
        return GetLastError();
    return status.dwError;
}

CertificateFault FaultOfPolicyError(DWORD error, PCCERT_CONTEXT certificate, const TChain& chain,
                                    bool addressLiteral) {
    switch (error) {
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return CertVerifyTimeValidity(nullptr, certificate->pCertInfo) < 0 ? CertificateFault::NotYetValid
                                                                           : CertificateFault::Expired;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return addressLiteral ? CertificateFault::AddressMismatch : CertificateFault::NameMismatch;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        return chain.SelfSigned() ? CertificateFault::SelfSigned : CertificateFault::UnknownAuthority;
    case static_cast<DWORD>(CERT_E_CHAINING):
        return CertificateFault::UnknownAuthority;
    default:
        return CertificateFault::Other;
    }
}

// Raises EIdTLSCertificateRejected unless the system trusts the certificate for the host.
void ValidateCertificate(PCCERT_CONTEXT certificate, const std::u16string& host) {
    std::vector<uint8_t> address;
    const bool addressLiteral = IsAddressLiteral(TextToUtf8(host), address);
    const TChain chain(certificate);
    const DWORD policyError = SslPolicyError(chain, addressLiteral ? nullptr : &host);
    if (policyError != 0)
        throw EIdTLSCertificateRejected(
            CertificateFaultText(FaultOfPolicyError(policyError, certificate, chain, addressLiteral), host,
                                 StatusText(static_cast<SECURITY_STATUS>(policyError))));
    // A chain that does not reach a root can pass the policy on some systems: it is no trust.
    if (chain.ErrorStatus() & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT))
        throw EIdTLSCertificateRejected(CertificateFaultText(CertificateFault::UnknownAuthority, host));
    if (chain.ErrorStatus() & CERT_TRUST_IS_NOT_TIME_VALID)
        throw EIdTLSCertificateRejected(CertificateFaultText(CertificateFault::Expired, host));
    if (chain.ErrorStatus() != CERT_TRUST_NO_ERROR &&
        (chain.ErrorStatus() & ~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)) !=
            0)
        throw EIdTLSCertificateRejected(
            CertificateFaultText(CertificateFault::Other, host,
                                 u"chain status " + AsciiToText(std::to_string(chain.ErrorStatus()))));
    if (addressLiteral && !CertificateNamesAddress(certificate, address))
        throw EIdTLSCertificateRejected(CertificateFaultText(CertificateFault::AddressMismatch, host));
    if (!addressLiteral && !CertificateListsNames(certificate))
        throw EIdTLSCertificateRejected(CertificateFaultText(CertificateFault::NameMismatch, host));
}

// ---- Sessions ----

// SChannel keeps sessions for resumption itself, per credential handle and server name; the
// saved session only says that the server allowed one.
class TSChannelSavedSession : public TlsSavedSession {};

class SChannelSession : public TlsSession {
public:
    SChannelSession() : credentials_(TSharedCredentials::Get()) {}
    ~SChannelSession() override {
        if (haveContext_)
            DeleteSecurityContext(&context_);
    }

    void Handshake(TIdStackSocketHandle socket, const std::u16string& host, const TlsSavedSession* /*resume*/,
                   TlsWaiter& waiter) override {
        socket_ = socket;
        host_ = host;
        RunHandshake(waiter, false);
        CheckProtocol();
        ValidateServerCertificate();
        QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        SecPkgContext_SessionInfo session{};
        reused_ = QueryContextAttributesW(&context_, SECPKG_ATTR_SESSION_INFO, &session) == SEC_E_OK &&
                  (session.dwFlags & SSL_SESSION_RECONNECT);
        established_ = true;
    }

    int32_t Read(uint8_t* buffer, int32_t size, TlsWaiter& waiter) override {
        while (plain_.empty()) {
            if (closed_)
                return 0;
            if (!DecryptRecord(waiter) && !ReceiveMore())
                return closed_ ? 0 : -1;
        }
        const auto count = static_cast<int32_t>(std::min<size_t>(plain_.size(), static_cast<size_t>(size)));
        std::memcpy(buffer, plain_.data(), static_cast<size_t>(count));
        plain_.erase(plain_.begin(), plain_.begin() + count);
        return count;
    }

    void Write(const uint8_t* data, int32_t size, TlsWaiter& waiter) override {
        while (size > 0) {
            const auto part =
                static_cast<DWORD>(std::min<uint32_t>(static_cast<uint32_t>(size), sizes_.cbMaximumMessage));
            std::vector<uint8_t> record(sizes_.cbHeader + part + sizes_.cbTrailer);
            std::memcpy(record.data() + sizes_.cbHeader, data, part);
            SecBuffer buffers[4] = {
                {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {part, SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + part},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = EncryptMessage(&context_, 0, &description, 0);
            if (status != SEC_E_OK)
                throw EIdTLSError(AsciiToText(RSTlsConnectionFailed) + StatusText(status));
            SendAll(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer, waiter);
            data += part;
            size -= static_cast<int32_t>(part);
        }
    }

    bool HasPending() const override { return !plain_.empty() || HoldsWholeRecord(); }

    void SendCloseNotify() override {
        if (!established_ || closed_)
            return;
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, &control};
        if (ApplyControlToken(&context_, &controlDescription) != SEC_E_OK)
            return;
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &out};
        ULONG flags = 0;
        InitializeSecurityContextW(credentials_, &context_, nullptr, RequestFlags, 0, 0, nullptr, 0, nullptr,
                                   &outDescription, &flags, nullptr);
        if (out.pvBuffer != nullptr) {
            // Without waiting: a peer that takes nothing now does not get it.
            send(socket_, static_cast<const char*>(out.pvBuffer), static_cast<int>(out.cbBuffer), 0);
            FreeContextBuffer(out.pvBuffer);
        }
    }

    bool SessionReused() const override { return established_ && reused_; }

    std::shared_ptr<TlsSavedSession> SavedSession() const override {
        return established_ ? std::make_shared<TSChannelSavedSession>() : nullptr;
    }

private:
    // The handshake's token exchange, from the first message (or, when `continuing`, from
    // handshake messages that arrived after it, such as a renegotiation) until SChannel is done.
    void RunHandshake(TlsWaiter& waiter, bool continuing) {
        const std::u16string& name = host_;
        bool needInput = continuing && incoming_.empty();
        bool first = !continuing;
        for (;;) {
            if (needInput && !ReceiveDuringHandshake(waiter))
                ThrowHandshakeFailed(AsciiToText(RSTlsClosedDuringHandshake));
            SecBuffer in[2] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                               {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &out};
            ULONG flags = 0;
            const SECURITY_STATUS status = InitializeSecurityContextW(
                credentials_, first ? nullptr : &context_, const_cast<wchar_t*>(WideChars(name)),
                RequestFlags, 0, 0, first ? nullptr : &inDescription, 0, first ? &context_ : nullptr,
                &outDescription, &flags, nullptr);
            if (first)
                haveContext_ = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK;
            first = false;
            if (out.pvBuffer != nullptr) {
                const std::vector<uint8_t> token(static_cast<uint8_t*>(out.pvBuffer),
                                                 static_cast<uint8_t*>(out.pvBuffer) + out.cbBuffer);
                FreeContextBuffer(out.pvBuffer);
                SendAll(token.data(), token.size(), waiter);
            }
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                needInput = true;
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
                ThrowHandshakeFailed(StatusText(status));
            KeepExtra(in[1]);
            if (status == SEC_E_OK)
                return;
            needInput = incoming_.empty();
        }
    }

    // Only TLS 1.2 and newer: some systems would agree on less despite the credentials.
    void CheckProtocol() {
        SecPkgContext_ConnectionInfo connection{};
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK)
            ThrowHandshakeFailed(u"the negotiated protocol is unknown");
        const DWORD modern = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
        if ((connection.dwProtocol & modern) == 0)
            ThrowHandshakeFailed(u"the server offers nothing newer than TLS 1.1");
    }

    void ValidateServerCertificate() {
        PCCERT_CONTEXT certificate = nullptr;
        const SECURITY_STATUS status =
            QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
        if (status != SEC_E_OK || certificate == nullptr)
            throw EIdTLSCertificateRejected(
                CertificateFaultText(CertificateFault::Other, host_, u"the server sent no certificate"));
        try {
            ValidateCertificate(certificate, host_);
        } catch (...) {
            CertFreeCertificateContext(certificate);
            throw;
        }
        CertFreeCertificateContext(certificate);
    }

    // Decrypts the next record held in `incoming_`: true when it was taken (its data, if any,
    // in `plain_`), false when more bytes must arrive first.
    bool DecryptRecord(TlsWaiter& waiter) {
        if (incoming_.empty())
            return false;
        SecBuffer buffers[4] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return false;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            closed_ = true; // the server's close notification
            return true;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
            throw EIdTLSError(AsciiToText(RSTlsConnectionFailed) + StatusText(status));
        std::vector<uint8_t> extra;
        for (const SecBuffer& buffer : buffers) {
            const auto* bytes = static_cast<const uint8_t*>(buffer.pvBuffer);
            if (buffer.BufferType == SECBUFFER_DATA)
                plain_.insert(plain_.end(), bytes, bytes + buffer.cbBuffer);
            else if (buffer.BufferType == SECBUFFER_EXTRA)
                extra.assign(bytes, bytes + buffer.cbBuffer);
        }
        incoming_ = std::move(extra);
        // Handshake messages after the handshake (a new session ticket, a renegotiation).
        if (status == SEC_I_RENEGOTIATE)
            RunHandshake(waiter, true);
        return true;
    }

    // Takes what the socket holds now: false when nothing was there (or the peer has closed).
    bool ReceiveMore() {
        const size_t kept = incoming_.size();
        incoming_.resize(kept + ReceiveChunk);
        const int count = recv(socket_, reinterpret_cast<char*>(incoming_.data() + kept),
                               static_cast<int>(ReceiveChunk), 0);
        incoming_.resize(kept + static_cast<size_t>(std::max(count, 0)));
        if (count > 0)
            return true;
        if (count == 0) {
            closed_ = true;
            return false;
        }
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            return false;
        ThrowSocketError(error);
    }

    bool ReceiveDuringHandshake(TlsWaiter& waiter) {
        for (;;) {
            if (ReceiveMore())
                return true;
            if (closed_)
                return false;
            waiter.WaitForSocket(TlsWait::Readable);
        }
    }

    void SendAll(const uint8_t* data, size_t size, TlsWaiter& waiter) {
        while (size > 0) {
            const int sent = send(socket_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
            if (sent > 0) {
                data += sent;
                size -= static_cast<size_t>(sent);
                continue;
            }
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK)
                ThrowSocketError(error);
            waiter.WaitForSocket(TlsWait::Writable);
        }
    }

    // Bytes the last call did not take stay for the next: they begin the next message.
    void KeepExtra(const SecBuffer& extra) {
        if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0)
            incoming_.erase(incoming_.begin(), incoming_.end() - extra.cbBuffer);
        else
            incoming_.clear();
    }

    bool HoldsWholeRecord() const {
        if (incoming_.size() < TlsRecordHeader)
            return false;
        const size_t length = (static_cast<size_t>(incoming_[3]) << 8) | incoming_[4];
        return incoming_.size() >= TlsRecordHeader + length;
    }

    CredHandle* credentials_;
    CtxtHandle context_{};
    bool haveContext_ = false;
    TIdStackSocketHandle socket_ = Id_INVALID_SOCKET;
    std::u16string host_;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<uint8_t> incoming_; // received, not yet decrypted
    std::vector<uint8_t> plain_;    // decrypted, not yet read
    bool established_ = false;
    bool reused_ = false;
    bool closed_ = false;
};

} // namespace

std::unique_ptr<TlsSession> CreateTlsSession() {
    return std::make_unique<SChannelSession>();
}
