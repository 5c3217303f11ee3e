#include "transport/TcpConnection.h"

#include <algorithm>
#include <vector>

#include "transport/Messages.h"
#include "transport/ReplyRecord.h"

TIdTCPConnection::TIdTCPConnection() = default;

TIdTCPConnection::~TIdTCPConnection() {
    DiscardIOHandler();
}

void TIdTCPConnection::CloseTcpConnection(bool notifyPeer) {
    try {
        if (notifyPeer && TcpConnectionIsOpen())
            NotifyPeerBeforeClose();
    } catch (...) {
        CloseIOHandler();
        throw;
    }
    CloseIOHandler();
}

// Bytes still unread belong to the connection being closed. Left in the queue they would make
// the connection count as open, and every later connect would fail with "Already connected.".
void TIdTCPConnection::CloseIOHandler() {
    if (!ioHandler_)
        return;
    if (ioHandler_->HandlerOpen())
        ioHandler_->Close();
    ioHandler_->InputQueue().Clear();
}

bool TIdTCPConnection::TcpConnectionIsOpen() {
    return ioHandler_ && ioHandler_->IsStillConnected();
}

std::unique_ptr<TIdIOHandlerStack> TIdTCPConnection::CreateIOHandler() const {
    return std::make_unique<TIdIOHandlerStack>();
}

TIdIOHandlerStack& TIdTCPConnection::EnsureIOHandler() {
    if (!ioHandler_) {
        ioHandler_ = CreateIOHandler();
        implicitIOHandler_ = true;
    }
    return *ioHandler_;
}

void TIdTCPConnection::DiscardIOHandler() {
    if (!ioHandler_)
        return;
    ioHandler_->Close();
    if (implicitIOHandler_) {
        ioHandler_.reset();
        implicitIOHandler_ = false;
    }
}

// ---- Command and reply exchange ----

std::u16string TIdTCPConnection::IssueCommand(std::u16string_view line, std::u16string_view expectedCode,
                                              WireEncoding encoding) {
    RequireConnection();
    if (encoding == weNone)
        encoding = ioHandler_->LineEncoding();
    // The check runs on the encoded bytes: a character outside the encoding's range may itself
    // become CR or LF on the wire.
    TIdBytes bytes = TextToBytes(line, encoding);
    if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == '\r' || b == '\n'; }))
        throw EIdCommandHasLineBreak(std::string_view("Command not sent: it holds a line break (CR or LF)."));
    bytes.push_back('\r');
    bytes.push_back('\n');
    ioHandler_->WriteBytes(bytes);
    return AwaitReply(expectedCode, encoding);
}

std::u16string TIdTCPConnection::AwaitReply(std::u16string_view expectedCode, WireEncoding encoding) {
    ReadReply(encoding);
    return CheckReplyCode(LastReply().Code(), expectedCode);
}

void TIdTCPConnection::ReadReply(WireEncoding encoding) {
    RequireConnection();
    TIdReply& reply = LastReply();
    const int32_t maxLines = ioHandler_->MaxCapturedLines();
    std::vector<std::u16string> lines;
    for (;;) {
        lines.push_back(ioHandler_->ReadNonEmptyLine(TIdIOHandler::MaxReadAttempts, encoding));
        if (reply.IsFinalReplyLine(lines.back()))
            break;
        if (maxLines > 0 && static_cast<int32_t>(lines.size()) >= maxLines)
            throw EIdMaxCaptureLineExceeded(RSMaximumNumberOfCaptureLineExceeded);
    }
    reply.ParseReplyLines(lines);
}

std::u16string TIdTCPConnection::CheckReplyCode(const std::u16string& code,
                                                std::u16string_view expectedCode) {
    if (!expectedCode.empty() && !SameTextAscii(code, expectedCode))
        LastReply().RaiseReplyFailure();
    return code;
}

void TIdTCPConnection::RequireConnection() const {
    if (!ioHandler_)
        throw EIdNotConnected(RSNotConnected);
}

TIdReply& TIdTCPConnection::LastReply() {
    if (!lastReply_)
        lastReply_ = CreateReplyRecord();
    if (!lastReply_)
        throw EIdException(std::string_view("This connection has no reply class."));
    return *lastReply_;
}

std::unique_ptr<TIdReply> TIdTCPConnection::CreateReplyRecord() const {
    return nullptr;
}
