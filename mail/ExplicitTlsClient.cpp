#include "mail/ExplicitTlsClient.h"

#include <algorithm>

#include "base/Integers.h"
#include "base/Text.h"
#include "transport/Messages.h"
#include "transport/TransportErrors.h"

TIdExplicitTLSClient::TIdExplicitTLSClient(uint16_t regularPort, uint16_t implicitTLSPort)
    : regularPort_(regularPort), implicitTLSPort_(implicitTLSPort) {
    SetPort(regularPort);
}

void TIdExplicitTLSClient::SetUseTLS(TIdUseTLS useTLS) {
    if (useTLS == useTLS_)
        return;
    if (useTLS == utUseImplicitTLS && Port() == regularPort_)
        SetPort(implicitTLSPort_);
    else if (useTLS_ == utUseImplicitTLS && Port() == implicitTLSPort_)
        SetPort(regularPort_);
    useTLS_ = useTLS;
}

bool TIdExplicitTLSClient::TlsActive() const {
    const TlsHandler* handler = ActiveTlsHandler();
    return handler != nullptr && handler->TlsActive();
}

bool TIdExplicitTLSClient::TlsSessionReused() const {
    const TlsHandler* handler = ActiveTlsHandler();
    return handler != nullptr && handler->SessionReused();
}

std::unique_ptr<TIdIOHandlerStack> TIdExplicitTLSClient::CreateIOHandler() const {
    if (useTLS_ == utNoTLSSupport)
        return TIdTCPClientCustom::CreateIOHandler();
    return std::make_unique<TlsHandler>();
}

void TIdExplicitTLSClient::PrepareTLS() {
    // An open connection stays as it is: the connect refuses it with "Already connected.".
    if (IOHandler() != nullptr && IOHandler()->HandlerOpen())
        return;
    // A handler made for the other kind of connection is replaced by one that fits (a plain
    // conversation keeps the plain handler it always had).
    const bool wantsTls = useTLS_ != utNoTLSSupport;
    if (IOHandler() != nullptr && ImplicitIOHandler() && wantsTls != (ActiveTlsHandler() != nullptr))
        DiscardIOHandler();
    if (!wantsTls)
        return;
    auto* handler = dynamic_cast<TlsHandler*>(&EnsureIOHandler());
    // TLS was asked for: no plain connection in its place.
    if (handler == nullptr)
        throw EIdTLSError(AsciiToText(RSTlsNotAvailable) + u"the connection's handler cannot do TLS");
    handler->SetPassThrough(useTLS_ != utUseImplicitTLS);
    handler->SetSessionToResume(keptSessionServer_ == ServerKey() ? keptSession_ : nullptr);
}

bool TIdExplicitTLSClient::TLSCommandDue() {
    return useTLS_ == utUseRequireTLS || (useTLS_ == utUseExplicitTLS && SupportsTLS());
}

void TIdExplicitTLSClient::StartTLS() {
    ActiveTlsHandler()->SetPassThrough(false);
}

void TIdExplicitTLSClient::KeepTlsSession() {
    const TlsHandler* handler = ActiveTlsHandler();
    if (handler == nullptr || !handler->TlsActive())
        return;
    keptSession_ = handler->SessionForResumption();
    keptSessionServer_ = ServerKey();
}

TlsHandler* TIdExplicitTLSClient::ActiveTlsHandler() const {
    return dynamic_cast<TlsHandler*>(IOHandler());
}

// The host as typed and the port: a session is only offered to the server it came from.
std::u16string TIdExplicitTLSClient::ServerKey() const {
    return Host() + u":" + IntToText(Port());
}

TIdExplicitTLSClient::SignInWait::SignInWait(TIdExplicitTLSClient& client)
    : client_(client), kept_(client.ReadTimeout()) {
    // 0 and DEFAULT_WAIT mean no limit at all: nothing to lengthen then.
    if (client_.IOHandler() != nullptr && kept_ > 0)
        client_.IOHandler()->SetReadTimeout(std::max(kept_, client_.signInReplyTimeout_));
}

TIdExplicitTLSClient::SignInWait::~SignInWait() {
    if (client_.IOHandler() != nullptr)
        client_.IOHandler()->SetReadTimeout(kept_);
}
