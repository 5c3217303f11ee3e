#pragma once
// The process-wide socket stack: every socket call of the program passes through the one current
// TIdStack. Network components and byte queues hold it through AcquireStack/ReleaseStack; it is
// created when the usage count leaves 0 and destroyed when it returns there.

#include <cstdint>
#include <string>
#include <string_view>

#include "transport/ConnectionSettings.h"
#include "transport/WireText.h"

// An address read back from a socket.
struct TIdSocketAddress {
    std::u16string IP;
    uint16_t Port = 0;
    TIdIPVersion IPVersion = Id_IPv4;
};

class TIdStack {
public:
    TIdStack() = default;
    virtual ~TIdStack() = default;
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    // Numeric address text of a host: "LOCALHOST" (any case) is 127.0.0.1 and an IPv4 literal is
    // returned as it is, without a lookup. Raises EIdSocketError when the name cannot be found
    // (11001 "Host not found."), EIdIPVersionUnsupported for an unknown version.
    std::u16string ResolveHostAddress(const std::u16string& host, TIdIPVersion version);

    // Four "."-separated parts, each 0..255 after trimming blanks (decimal, or hexadecimal after
    // "$", "x" or "0x"), and nothing more.
    static bool IsIPv4Literal(std::u16string_view text);

    // getaddrinfo() for the first address of the family. Raises EIdSocketError with the mapped
    // lookup code, or EOSError for a failure of the system itself.
    virtual std::u16string LookupHostAddress(const std::u16string& host, TIdIPVersion version);

    // socket(): a close-on-exec socket of the version's family. Raises EIdSocketError.
    virtual int OpenStreamSocket(int socketType, int protocol, bool overlapped, TIdIPVersion version);

    // bind() to ip (empty: any address) and port (0: any port). Raises EIdSocketError.
    virtual void BindLocal(int handle, const std::u16string& ip, TIdIPVersion version, uint16_t port);

    // Blocking connect() to a numeric address. Raises EIdSocketError (10061 "Connection
    // refused." and the like).
    virtual void ConnectSocket(int handle, const std::u16string& ip, TIdIPVersion version, uint16_t port);

    // Starts a connect() that does not block: true when the connection was made at once (a
    // server on this machine answers within the call), false while it is still in progress;
    // then EndConnect must follow. Raises EIdSocketError when the connect has already failed.
    virtual bool BeginConnect(int handle, const std::u16string& ip, TIdIPVersion version, uint16_t port);

    // Waits for the connect that BeginConnect left in progress, or until cancelFd becomes
    // readable, which raises 10004 "Interrupted system call.". The socket is blocking again
    // afterwards. Raises EIdSocketError when the connect failed.
    virtual void EndConnect(int handle, int cancelFd);

    // recv() into the whole buffer: the count received, 0 when the peer has closed its side.
    // Raises EIdSocketError.
    virtual int32_t ReceiveBytes(int handle, TIdBytes& buffer);

    // send() of count bytes from offset (negative count: all from offset), returning the number
    // actually taken, which may be fewer; nothing is called for an empty range or an offset
    // outside the buffer. Raises EIdSocketError.
    virtual int32_t SendBytes(int handle, const TIdBytes& buffer, int32_t count, int32_t offset);

    // shutdown() of the sending side and close(), both results ignored.
    virtual void ShutdownAndClose(int handle);

    // getsockname() / getpeername(). Raise EIdSocketError, or EIdIPVersionUnsupported for a
    // family other than IPv4 and IPv6.
    virtual TIdSocketAddress LocalAddress(int handle);
    virtual TIdSocketAddress PeerAddress(int handle);

    // setsockopt() with a 4-byte value. Raises EIdSocketError.
    virtual void SetSocketOption(int handle, int level, int option, int32_t value);

    // Switches the socket between blocking and non-blocking mode. Raises EIdSocketError.
    virtual void SetNonBlocking(int handle, bool nonBlocking);

    // Waits until the socket can take more bytes: true, or false once ms have passed (negative:
    // no limit; 0 only polls). Raises EIdSocketError.
    virtual bool WaitWritable(int handle, int32_t ms);
};

// The current stack; only valid while the usage count is above 0.
TIdStack* GStack();
// Under the process-wide stack lock: raise the usage count, creating the stack on the first use.
void AcquireStack();
// Lower the usage count, destroying the stack when it returns to 0.
void ReleaseStack();
// The usage count, for tests and diagnostics.
int32_t StackUsageCount();
