#pragma once
// The client side of a TCP connection: where to connect, the time-outs, and the bounded connect.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "transport/ConnectionSettings.h"
#include "transport/TcpConnection.h"

class TIdTCPClientCustom : public TIdTCPConnection, public BindingProperties {
public:
    TIdTCPClientCustom();

    // Opens the TCP connection to Host:Port (the handler is created on the first connect and
    // reused afterwards). Raises EIdAlreadyConnected "Already connected.", EIdHostRequired,
    // EIdPortRequired, the socket layer's EIdSocketError (refused: 10061, unknown host: 11001),
    // EIdCouldNotBindSocket, EIdConnectTimeout "Connect timed out." or EIdConnectException.
    // After a failure the socket is closed and the connection has no handler.
    void OpenTcpConnection();

    // Each setter also updates the handler when there is one.
    const std::u16string& Host() const { return host_; }
    void SetHost(std::u16string host);
    uint16_t Port() const { return port_; }
    // Keeps the low 16 bits: 70000 becomes 4464, 65536 becomes 0.
    void SetPort(int32_t port);
    int32_t ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int32_t ms);
    // The handler's value when there is a handler.
    int32_t ReadTimeout() const;
    void SetReadTimeout(int32_t ms);

    // An overall deadline for every wait for data, copied into the handler at each connect.
    void SetDeadline(std::chrono::steady_clock::time_point deadline);
    void ClearDeadline();

private:
    void CopySettingsTo(TIdIOHandlerStack& handler) const;

    std::u16string host_;
    uint16_t port_ = 0;
    int32_t connectTimeout_ = 0;
    int32_t readTimeout_ = DEFAULT_WAIT;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};
