#pragma once
// Where a client socket binds and which IP version it speaks: one record that the client keeps
// and hands whole to its I/O handler at each connect.

#include <cstdint>
#include <string>

enum TIdIPVersion : uint8_t { Id_IPv4 = 0, Id_IPv6 = 1 };
enum TIdReuseSocket : uint8_t { rsOSDependent = 0, rsTrue = 1, rsFalse = 2 };

struct BindingSettings {
    TIdIPVersion IPVersion = Id_IPv4;
    std::u16string BoundIP;
    uint16_t BoundPort = 0;
    uint16_t BoundPortMin = 0; // a range to pick the local port from; 0 and 0 for none
    uint16_t BoundPortMax = 0;
    TIdReuseSocket ReuseSocket = rsOSDependent;
};

// The binding properties of the client and of its I/O handler, over one record.
class BindingProperties {
public:
    TIdIPVersion IPVersion() const { return binding_.IPVersion; }
    void SetIPVersion(TIdIPVersion version) { binding_.IPVersion = version; }
    const std::u16string& BoundIP() const { return binding_.BoundIP; }
    void SetBoundIP(std::u16string ip) { binding_.BoundIP = std::move(ip); }
    uint16_t BoundPort() const { return binding_.BoundPort; }
    void SetBoundPort(uint16_t port) { binding_.BoundPort = port; }
    uint16_t BoundPortMin() const { return binding_.BoundPortMin; }
    uint16_t BoundPortMax() const { return binding_.BoundPortMax; }
    void SetBoundPortRange(uint16_t minimum, uint16_t maximum) {
        binding_.BoundPortMin = minimum;
        binding_.BoundPortMax = maximum;
    }
    TIdReuseSocket ReuseSocket() const { return binding_.ReuseSocket; }
    void SetReuseSocket(TIdReuseSocket reuse) { binding_.ReuseSocket = reuse; }

    const BindingSettings& Binding() const { return binding_; }
    void SetBindingSettings(const BindingSettings& settings) { binding_ = settings; }

private:
    BindingSettings binding_;
};
