#include "transport/TcpClient.h"

#include "transport/Messages.h"
#include "transport/TransportErrors.h"

TIdTCPClientCustom::TIdTCPClientCustom() = default;

void TIdTCPClientCustom::OpenTcpConnection() {
    if (TcpConnectionIsOpen())
        throw EIdAlreadyConnected(RSAlreadyConnected);
    if (host_.empty())
        throw EIdHostRequired(std::u16string());
    if (port_ == 0)
        throw EIdPortRequired(std::u16string());
    TIdIOHandlerStack& handler = EnsureIOHandler();
    try {
        CopySettingsTo(handler);
        handler.Open();
    } catch (...) {
        DiscardIOHandler();
        throw;
    }
}

void TIdTCPClientCustom::CopySettingsTo(TIdIOHandlerStack& handler) const {
    handler.SetPort(port_);
    handler.SetHost(host_);
    handler.SetConnectTimeout(connectTimeout_);
    handler.SetReadTimeout(readTimeout_);
    handler.SetBindingSettings(Binding());
    if (deadline_)
        handler.SetDeadline(*deadline_);
    else
        handler.ClearDeadline();
}

void TIdTCPClientCustom::SetHost(std::u16string host) {
    host_ = std::move(host);
    if (IOHandler())
        IOHandler()->SetHost(host_);
}

void TIdTCPClientCustom::SetPort(int32_t port) {
    port_ = static_cast<uint16_t>(port);
    if (IOHandler())
        IOHandler()->SetPort(port_);
}

void TIdTCPClientCustom::SetConnectTimeout(int32_t ms) {
    connectTimeout_ = ms;
    if (IOHandler())
        IOHandler()->SetConnectTimeout(ms);
}

int32_t TIdTCPClientCustom::ReadTimeout() const {
    return IOHandler() ? IOHandler()->ReadTimeout() : readTimeout_;
}

void TIdTCPClientCustom::SetReadTimeout(int32_t ms) {
    readTimeout_ = ms;
    if (IOHandler())
        IOHandler()->SetReadTimeout(ms);
}

void TIdTCPClientCustom::SetDeadline(std::chrono::steady_clock::time_point deadline) {
    deadline_ = deadline;
    if (IOHandler())
        IOHandler()->SetDeadline(deadline);
}

void TIdTCPClientCustom::ClearDeadline() {
    deadline_.reset();
    if (IOHandler())
        IOHandler()->ClearDeadline();
}
