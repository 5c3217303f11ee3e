// The socket layer: error numbering and texts, address literals, resolution, the socket handle
// and its readable wait.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <netdb.h>
#endif

#include "tests/support/LoopbackSockets.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TransportResources.h"
#include "transport/ErrorTexts.h"
#include "transport/NativeSockets.h"
#include "transport/SocketHandle.h"
#include "transport/SocketStack.h"
#include "transport/TransportErrors.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A name the resolver rejects by itself (a label longer than 63 characters), so the test
// never sends a query off the machine.
std::u16string UnresolvableName() {
    return std::u16string(70, u'x') + u".invalid";
}

class StackUser : public ::testing::Test {
protected:
    StackUser() { AcquireStack(); }
    ~StackUser() override { ReleaseStack(); }
};

// A handle connected to a scripted server.
void ConnectTo(TIdSocketHandle& handle, uint16_t port) {
    handle.Allocate(SOCK_STREAM, 0);
    handle.Bind();
    handle.SetPeer(u"127.0.0.1", port, Id_IPv4);
    handle.Connect();
}

} // namespace

TEST(SocketErrorText, FillsThePatternWithCodeAndText) {
    EXPECT_EQ(SocketErrorText(10061), u"Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(SocketErrorText(11001), u"Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(SocketErrorText(10066), u"Socket Error # 10066\r\nDirectory not empty");
}

TEST(SocketErrorText, CodeWithoutTextEndsWithCrLf) {
    EXPECT_EQ(SocketErrorText(11004), u"Socket Error # 11004\r\n");
    EXPECT_EQ(SocketErrorText(10005), u"Socket Error # 10005\r\n");
    EXPECT_EQ(SocketErrorText(11002), u"Socket Error # 11002\r\n");
}

TEST(ThrowSocketError, NotASocketHasItsOwnClassAndStaysASocketError) {
    try {
        ThrowSocketError(10038);
        FAIL();
    } catch (const EIdNotASocket& error) {
        EXPECT_EQ(error.ErrorCode(), 10038);
        EXPECT_EQ(error.Message(), u"Socket Error # 10038\r\nSocket operation on non-socket.");
    }
    EXPECT_THROW(ThrowSocketError(10061), EIdSocketError);
    try {
        ThrowSocketError(10061);
    } catch (const EIdNotASocket&) {
        FAIL() << "only 10038 is EIdNotASocket";
    } catch (const EIdSocketError&) {
    }
}

#ifndef _WIN32
TEST(SocketErrorFromErrno, MapsOntoTheTableNumbers) {
    EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(SocketErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(SocketErrorFromErrno(EBADF), 10009);
    EXPECT_EQ(SocketErrorFromErrno(ENOTSOCK), 10038);
    EXPECT_EQ(SocketErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(SocketErrorFromErrno(EINTR), 10004);
    EXPECT_EQ(SocketErrorFromErrno(EACCES), 10013);
    EXPECT_EQ(SocketErrorFromErrno(EINVAL), 10022);
    EXPECT_EQ(SocketErrorFromErrno(EPIPE), 10058);
}

TEST(AddressInfoErrors, LookupFailuresUseTheClassicNumbering) {
    EXPECT_EQ(AddressInfoErrorCode(ClassicAddressInfoCode(EAI_NONAME)), 11001);
    EXPECT_EQ(AddressInfoErrorCode(ClassicAddressInfoCode(EAI_AGAIN)), 11002);
    EXPECT_EQ(AddressInfoErrorCode(ClassicAddressInfoCode(EAI_FAIL)), 11003);
    EXPECT_EQ(AddressInfoErrorCode(ClassicAddressInfoCode(EAI_NODATA)), 11004);
    EXPECT_EQ(AddressInfoErrorCode(ClassicAddressInfoCode(EAI_ADDRFAMILY)), 11004);
    EXPECT_EQ(ClassicAddressInfoCode(EAI_SYSTEM), 11);
}
#endif

TEST(AddressInfoErrors, CodesOutsideTheClassicNumberingStayAsTheyAre) {
    EXPECT_EQ(AddressInfoErrorCode(1), 0);
    EXPECT_EQ(AddressInfoErrorCode(9), 10109);
    EXPECT_EQ(AddressInfoErrorCode(11001), 11001);
}

TEST(IsIPv4Literal, AcceptsFourBytePartsWithBlanksAndHex) {
    EXPECT_TRUE(TIdStack::IsIPv4Literal(u"192.168.0.1"));
    EXPECT_TRUE(TIdStack::IsIPv4Literal(u"192 .168.0.1"));
    EXPECT_TRUE(TIdStack::IsIPv4Literal(u"10 .0.0.1"));
    EXPECT_TRUE(TIdStack::IsIPv4Literal(u"0x7F.$0.x0.1"));
    EXPECT_TRUE(TIdStack::IsIPv4Literal(u"0.0.0.0"));
}

TEST(IsIPv4Literal, RejectsOutOfRangeShortLongAndNames) {
    EXPECT_FALSE(TIdStack::IsIPv4Literal(u"192.168.0.256"));
    EXPECT_FALSE(TIdStack::IsIPv4Literal(u"1.2.3"));
    EXPECT_FALSE(TIdStack::IsIPv4Literal(u"1.2.3.4.5"));
    EXPECT_FALSE(TIdStack::IsIPv4Literal(u"1.2.3.-1"));
    EXPECT_FALSE(TIdStack::IsIPv4Literal(u"mail.example.com"));
    EXPECT_FALSE(TIdStack::IsIPv4Literal(u""));
    EXPECT_FALSE(TIdStack::IsIPv4Literal(u"1..2.3"));
}

TEST_F(StackUser, LocalhostAndLiteralsResolveWithoutLookup) {
    EXPECT_EQ(GStack()->ResolveHostAddress(u"LocalHost", Id_IPv4), u"127.0.0.1");
    EXPECT_EQ(GStack()->ResolveHostAddress(u"192 .168.0.1", Id_IPv4), u"192 .168.0.1");
}

TEST_F(StackUser, UnknownHostRaisesHostNotFound) {
    try {
        GStack()->ResolveHostAddress(UnresolvableName(), Id_IPv4);
        FAIL() << "resolved";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.ErrorCode(), 11001);
        EXPECT_EQ(error.Message(), u"Socket Error # 11001\r\nHost not found.");
    }
}

TEST(StackLifetime, CreatedOnFirstUserAndDestroyedWithTheLast) {
    ASSERT_EQ(StackUsageCount(), 0);
    EXPECT_EQ(GStack(), nullptr);
    AcquireStack();
    AcquireStack();
    TIdStack* first = GStack();
    EXPECT_NE(first, nullptr);
    ReleaseStack();
    EXPECT_EQ(GStack(), first);
    ReleaseStack();
    EXPECT_EQ(GStack(), nullptr);
}

TEST(SocketList, SixtyFifthHandleExceedsTheSet) {
    const auto set = TIdSocketList::CreateSocketList();
    for (int handle = 0; handle < TIdSocketList::MaxCount; ++handle)
        set->Add(handle + 100);
    EXPECT_THROW(set->Add(999), EIdStackSetSizeExceeded);
    set->Remove(100);
    set->Remove(12345);
    EXPECT_EQ(set->Count(), 63);
    EXPECT_FALSE(set->Contains(100));
    EXPECT_TRUE(set->Contains(163));
}

// Started programs do not get the socket.
static bool NotInherited(TIdStackSocketHandle socket) {
#ifdef _WIN32
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(socket), &flags) && !(flags & HANDLE_FLAG_INHERIT);
#else
    return fcntl(socket, F_GETFD) & FD_CLOEXEC;
#endif
}

TEST_F(StackUser, SocketsAreCloseOnExecAndOpenUntilClosedOnce) {
    TIdSocketHandle handle;
    handle.Allocate(SOCK_STREAM, 0);
    const TIdStackSocketHandle native = handle.Handle();
    EXPECT_TRUE(handle.ReadSocketSet().Contains(native));
    EXPECT_TRUE(NotInherited(native));
    EXPECT_THROW(handle.SetIPVersion(Id_IPv6), EIdCannotSetIPVersionWhenConnected);
    handle.CloseSocket();
    EXPECT_FALSE(handle.HandleAllocated());
    EXPECT_EQ(handle.Handle(), Id_INVALID_SOCKET);
    EXPECT_EQ(handle.ReadSocketSet().Count(), 0);
    handle.CloseSocket();
    EXPECT_THROW(handle.WaitReadable(0), EIdConnClosedGracefully);
}

TEST_F(StackUser, BindOnAPortInUseRaisesCouldNotBind) {
    ScriptedServer server(Script{});
    TIdSocketHandle handle;
    handle.Allocate(SOCK_STREAM, 0);
    handle.SetIP(u"127.0.0.1");
    handle.SetPort(server.Port());
    try {
        handle.Bind();
        FAIL();
    } catch (const EIdCouldNotBindSocket& error) {
        EXPECT_EQ(error.Message(), u"Could not bind socket. Address and port are already in use.");
    }
}

TEST_F(StackUser, ConnectReadsBothAddressesBack) {
    ScriptedServer server(Script{});
    TIdSocketHandle handle;
    ConnectTo(handle, server.Port());
    EXPECT_EQ(handle.PeerIP(), u"127.0.0.1");
    EXPECT_EQ(handle.PeerPort(), server.Port());
    EXPECT_EQ(handle.IP(), u"127.0.0.1");
    EXPECT_NE(handle.Port(), 0);
}

TEST_F(StackUser, RefusedConnectRaises10061AndKeepsTheSocket) {
    TIdSocketHandle handle;
    handle.Allocate(SOCK_STREAM, 0);
    handle.SetPeer(u"127.0.0.1", FreeLoopbackPort(), Id_IPv4);
    try {
        handle.Connect();
        FAIL();
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.ErrorCode(), 10061);
        EXPECT_EQ(error.Message(), u"Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_TRUE(handle.HandleAllocated());
}

TEST_F(StackUser, WaitReadableHonoursItsLimits) {
    ScriptedServer server({ServerStaysSilent(600ms), ServerSendsBytes("x")});
    TIdSocketHandle handle;
    ConnectTo(handle, server.Port());

    auto start = Clock::now();
    EXPECT_FALSE(handle.WaitReadable(0));
    EXPECT_LT(MillisecondsSince(start), 100);

    start = Clock::now();
    EXPECT_FALSE(handle.WaitReadable(200));
    EXPECT_GE(MillisecondsSince(start), 190);

    EXPECT_TRUE(handle.WaitReadable(DEFAULT_WAIT));
    EXPECT_GE(MillisecondsSince(start), 550);
    EXPECT_TRUE(handle.WaitReadable(INFINITE_WAIT));
}

TEST_F(StackUser, SendWithTheOffsetAtTheEndSendsNothing) {
    TIdSocketHandle handle;
    handle.Allocate(SOCK_STREAM, 0);
    const TIdBytes bytes{1, 2, 3};
    // Not connected: any real send() would fail.
    EXPECT_EQ(handle.Send(bytes, -1, 3), 0);
    EXPECT_EQ(handle.Send(bytes, 0, 0), 0);
    EXPECT_THROW(handle.Send(bytes, -1, 0), EIdSocketError);
}

TEST_F(StackUser, SendWithAnOffsetOutsideTheBufferReadsNothingBeforeIt) {
    ScriptedServer server(Script{});
    TIdSocketHandle handle;
    ConnectTo(handle, server.Port());
    const TIdBytes bytes{1, 2, 3};
    EXPECT_EQ(handle.Send(bytes, -1, -2), 0);
    EXPECT_EQ(handle.Send(bytes, 2, -1), 0);
    EXPECT_EQ(handle.Send(bytes, -1, 4), 0);
}

TEST_F(StackUser, ResetOfAnOpenHandleClosesItsSocket) {
    const int descriptors = TransportOpenDescriptorCount();
    TIdSocketHandle handle;
    handle.Allocate(SOCK_STREAM, 0);
    handle.Reset();
    EXPECT_FALSE(handle.HandleAllocated());
    EXPECT_EQ(handle.ReadSocketSet().Count(), 0);
    EXPECT_EQ(TransportOpenDescriptorCount(), descriptors);
}
