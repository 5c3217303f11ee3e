#include "transport/TlsSocketIO.h"

TlsHandler::TlsHandler() = default;

TlsHandler::~TlsHandler() = default;

void TlsHandler::SetPassThrough(bool passThrough) {
    const bool starts = passThrough_ && !passThrough;
    passThrough_ = passThrough;
    if (starts && HandlerOpen() && SocketIsOpen())
        StartTLS();
}

void TlsHandler::StartTLS() {
    InputQueue().Clear();
    std::unique_ptr<TlsSession> session = CreateTlsSession();
    Binding()->SetNonBlocking(true);
    session->Handshake(Binding()->Handle(), Host(), resume_.get(), *this);
    sessionReused_ = session->SessionReused();
    tls_ = std::move(session);
    passThrough_ = false;
}

std::shared_ptr<TlsSavedSession> TlsHandler::SessionForResumption() const {
    return tls_ ? tls_->SavedSession() : nullptr;
}

void TlsHandler::Open() {
    tls_.reset();
    sessionReused_ = false;
    TIdIOHandlerStack::Open();
}

void TlsHandler::Close() {
    if (tls_ && SocketIsOpen() && !PeerClosed())
        tls_->SendCloseNotify();
    tls_.reset();
    TIdIOHandlerStack::Close();
}

void TlsHandler::ConnectStep() {
    TIdIOHandlerStack::ConnectStep();
    if (!passThrough_)
        StartTLS();
}

int32_t TlsHandler::ReceiveFromSocket(TIdBytes& buffer) {
    if (!tls_)
        return TIdIOHandlerStack::ReceiveFromSocket(buffer);
    return tls_->Read(buffer.data(), static_cast<int32_t>(buffer.size()), *this);
}

int32_t TlsHandler::SendToSocket(const TIdBytes& bytes, int32_t offset) {
    if (!tls_)
        return TIdIOHandlerStack::SendToSocket(bytes, offset);
    const auto count = static_cast<int32_t>(bytes.size()) - offset;
    tls_->Write(bytes.data() + offset, count, *this);
    return count;
}

bool TlsHandler::WaitReadable(int32_t ms) {
    if (tls_ && tls_->HasPending())
        return true;
    return TIdIOHandlerStack::WaitReadable(ms);
}

// Each wait is bounded like a wait for a reply line: by ReadTimeout and by the deadline.
void TlsHandler::WaitForSocket(TlsWait direction) {
    const int32_t limit = ReadTimeout() == DEFAULT_WAIT || ReadTimeout() == 0 ? INFINITE_WAIT : ReadTimeout();
    const bool ready = WaitWithinDeadline(limit, [this, direction](int32_t ms) {
        return direction == TlsWait::Readable ? Binding()->WaitReadable(ms) : Binding()->WaitWritable(ms);
    });
    if (!ready)
        ThrowReadTimeout();
}
