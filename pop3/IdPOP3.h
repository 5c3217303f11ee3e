#pragma once
// Placeholder POP3 client with the interface the check cycle uses; every connect fails until
// the real client (over the TCP transport) replaces it.

#include <cstdint>
#include <string>

class TIdPOP3 {
public:
    TIdPOP3() = default;
    virtual ~TIdPOP3() = default;

    int32_t ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int32_t ms) { connectTimeout_ = ms; }
    int32_t ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int32_t ms) { readTimeout_ = ms; }
    const std::u16string& Host() const { return host_; }
    void SetHost(std::u16string host) { host_ = std::move(host); }
    uint16_t Port() const { return port_; }
    void SetPort(int32_t port) { port_ = static_cast<uint16_t>(port); } // keeps the low 16 bits
    const std::u16string& Username() const { return username_; }
    void SetUsername(std::u16string name) { username_ = std::move(name); }
    const std::u16string& Password() const { return password_; }
    void SetPassword(std::u16string password) { password_ = std::move(password); }
    bool AutoLogin() const { return autoLogin_; }
    void SetAutoLogin(bool on) { autoLogin_ = on; }

    // Connects and signs in; raises on any failure.
    virtual void ConnectAndLogIn();
    // "STAT": the number of messages in the mailbox.
    virtual int32_t QueryMessageCount();
    // "QUIT" when notifyPeer and open, then closes.
    virtual void CloseSession(bool notifyPeer);
    virtual bool TcpConnectionIsOpen();

private:
    int32_t connectTimeout_ = 0;
    int32_t readTimeout_ = -1;
    std::u16string host_;
    uint16_t port_ = 110;
    std::u16string username_;
    std::u16string password_;
    bool autoLogin_ = true;
};
