#pragma once
// The process-wide socket stack: every socket call of the program passes through the one current
// TIdStack. Network components and byte queues hold it through AcquireStack/ReleaseStack; it is
// created when the usage count leaves 0 and destroyed when it returns there.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "transport/ConnectionSettings.h"
#include "transport/NativeSocketHandle.h"
#include "transport/WireText.h"

class WakeSignal;

// An address read back from a socket.
struct SocketAddress {
    std::u16string IP;
    uint16_t Port = 0;
    TIdIPVersion IPVersion = Id_IPv4;
};

// The socket operations of the program over the platform's socket calls. The class of the
// current stack is fixed per platform (PosixSocketStack, TIdStackWindows); it provides the calls
// declared protected below, and everything above them is shared.
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

    // Where a connection to `host` goes: its address and IP version (the port is not set). With
    // Id_IPv4, an IPv6 literal, and a name that has IPv6 addresses but no IPv4 one, go over
    // IPv6; any other host is resolved as ResolveHostAddress does, and a name without any
    // address raises the IPv4 lookup's error.
    SocketAddress ResolvePeerAddress(const std::u16string& host, TIdIPVersion version);

    // Four "."-separated parts, each 0..255 after trimming blanks (decimal, or hexadecimal after
    // "$", "x" or "0x"), and nothing more.
    static bool IsIPv4Literal(std::u16string_view text);

    // getaddrinfo() for the first address of the family. Raises EIdSocketError with the mapped
    // lookup code, or EOSError for a failure of the system itself.
    virtual std::u16string LookupHostAddress(const std::u16string& host, TIdIPVersion version) = 0;

    // socket(): a socket of the version's family that started programs do not inherit.
    // Raises EIdSocketError.
    virtual TIdStackSocketHandle OpenStreamSocket(int socketType, int protocol, bool overlapped,
                                                  TIdIPVersion version) = 0;

    // bind() to ip (empty: any address) and port (0: any port). Raises EIdSocketError.
    virtual void BindLocal(TIdStackSocketHandle handle, const std::u16string& ip, TIdIPVersion version,
                           uint16_t port);

    // listen() with the given backlog. Raises EIdSocketError.
    virtual void Listen(TIdStackSocketHandle handle, int32_t backlog);
    // accept() of one waiting connection, not inherited by started programs: its handle, or
    // Id_INVALID_SOCKET when none waits on a non-blocking socket. Raises EIdSocketError.
    virtual TIdStackSocketHandle Accept(TIdStackSocketHandle handle);
    // Blocking connect() to a numeric address. Raises EIdSocketError (10061 "Connection
    // refused." and the like).
    virtual void ConnectSocket(TIdStackSocketHandle handle, const std::u16string& ip, TIdIPVersion version,
                               uint16_t port);

    // Starts a connect() that does not block: true when the connection was made at once (a
    // server on this machine answers within the call), false while it is still in progress;
    // then EndConnect must follow. Raises EIdSocketError when the connect has already failed.
    virtual bool BeginConnect(TIdStackSocketHandle handle, const std::u16string& ip, TIdIPVersion version,
                              uint16_t port);

    // Waits for the connect that BeginConnect left in progress, or until cancel is raised,
    // which raises 10004 "Interrupted system call.". The socket is blocking again afterwards.
    // Raises EIdSocketError when the connect failed.
    virtual void EndConnect(TIdStackSocketHandle handle, const WakeSignal& cancel);

    // recv() into the whole buffer: the count received, 0 when the peer has closed its side.
    // Raises EIdSocketError.
    virtual int32_t ReceiveBytes(TIdStackSocketHandle handle, TIdBytes& buffer);

    // send() of count bytes from offset (negative count: all from offset), returning the number
    // actually taken, which may be fewer; nothing is called for an empty range or an offset
    // outside the buffer. Raises EIdSocketError.
    virtual int32_t SendBytes(TIdStackSocketHandle handle, const TIdBytes& buffer, int32_t count,
                              int32_t offset);

    // shutdown() of the sending side and close(), both results ignored.
    virtual void ShutdownAndClose(TIdStackSocketHandle handle) = 0;

    // getsockname() / getpeername(). Raise EIdSocketError, or EIdIPVersionUnsupported for a
    // family other than IPv4 and IPv6.
    virtual SocketAddress LocalAddress(TIdStackSocketHandle handle);
    virtual SocketAddress PeerAddress(TIdStackSocketHandle handle);

    // setsockopt() with a 4-byte value. Raises EIdSocketError.
    virtual void SetSocketOption(TIdStackSocketHandle handle, int level, int option, int32_t value);

    // Switches the socket between blocking and non-blocking mode. Raises EIdSocketError.
    virtual void SetNonBlocking(TIdStackSocketHandle handle, bool nonBlocking);

    // Waits until the socket can take more bytes: true, or false once ms have passed (negative:
    // no limit; 0 only polls). Raises EIdSocketError.
    virtual bool WaitWritable(TIdStackSocketHandle handle, int32_t ms) = 0;

protected:
    // The platform's last socket error, in the program's numbering.
    virtual int32_t LastSocketError() = 0;
    // A socket failure as the platform reports it (in SO_ERROR), in the program's numbering.
    virtual int32_t TranslateError(int nativeError) = 0;
    // recv() / send() of one block; -1 with LastSocketError set on failure. A signal does not
    // end them early, and a peer that has gone makes send fail instead of ending the process.
    virtual int WSRecv(TIdStackSocketHandle handle, void* data, size_t size) = 0;
    virtual int WSSend(TIdStackSocketHandle handle, const void* data, size_t size) = 0;
    // Non-blocking mode on or off: 0, or -1 with LastSocketError set.
    virtual int WSSetNonBlocking(TIdStackSocketHandle handle, bool nonBlocking) = 0;
    // Right after a non-blocking connect reported it was in progress: true when it has already
    // succeeded, false while it is still running. Raises its failure.
    virtual bool ConnectFinishedAtOnce(TIdStackSocketHandle handle, const void* address, int length) = 0;
    // Waits for a connect in progress to finish; false when cancel (nullptr: none) was raised first.
    virtual bool WaitConnectFinished(TIdStackSocketHandle handle, const WakeSignal* cancel) = 0;

    class BlockingRestorer;

    // Raises the failure of a connect that has finished.
    void CheckConnectOutcome(TIdStackSocketHandle handle);
    // Returns result unless it is -1; then raises the platform's last socket error.
    int CheckResult(int result);
};

// Creates the stack of this platform.
std::unique_ptr<TIdStack> CreatePlatformStack();

// The current stack; only valid while the usage count is above 0.
TIdStack* GStack();
// Under the process-wide stack lock: raise the usage count, creating the stack on the first use.
void AcquireStack();
// Lower the usage count, destroying the stack when it returns to 0.
void ReleaseStack();
// The usage count, for tests and diagnostics.
int32_t StackUsageCount();
