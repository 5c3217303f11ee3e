// The TCP connection: the checks before a connect, refused, unresolvable and hanging connects,
// reuse of the handler, closing with and without the peer's notification, and leaks.

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/LoopbackSockets.h"
#include "tests/support/TransportResources.h"
#include "tests/transport/TransportTestClient.h"
#include "transport/TransportErrors.h"

using Clock = std::chrono::steady_clock;

namespace {

const Script kGreets = {ServerSays("+OK hello")};

void Aim(TIdTCPClientCustom& client, std::u16string host, int32_t port, int32_t connectTimeout = 5000) {
    client.SetHost(std::move(host));
    client.SetPort(port);
    client.SetConnectTimeout(connectTimeout);
    client.SetReadTimeout(5000);
}

class ClientSayingGoodbye : public TIdTCPClientCustom {
public:
    bool peerGone = false;

protected:
    void NotifyPeerBeforeClose() override {
        if (peerGone)
            throw EIdConnClosedGracefully(std::string_view("gone"));
        IOHandler()->WriteLine(u"QUIT");
    }
};

} // namespace

TEST(TCPClient, PortKeepsTheLowSixteenBits) {
    TIdTCPClientCustom client;
    client.SetPort(70000);
    EXPECT_EQ(client.Port(), 4464);
    client.SetPort(65536);
    EXPECT_EQ(client.Port(), 0);
    EXPECT_EQ(client.ReadTimeout(), DEFAULT_WAIT);
    EXPECT_EQ(client.ConnectTimeout(), 0);
}

TEST(TCPClient, HostAndPortAreRequiredBeforeAnySocket) {
    TIdTCPClientCustom client;
    client.SetPort(110);
    try {
        client.OpenTcpConnection();
        FAIL();
    } catch (const EIdHostRequired& error) {
        EXPECT_EQ(error.Message(), u"");
    }
    client.SetHost(u"127.0.0.1");
    client.SetPort(65536);
    try {
        client.OpenTcpConnection();
        FAIL();
    } catch (const EIdPortRequired& error) {
        EXPECT_EQ(error.Message(), u"");
    }
    EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TCPClient, QuickServerIsConnectedWithoutWaitingOutAPollSlice) {
    ScriptedServer server(Script{});
    TIdTCPClientCustom client;
    Aim(client, u"localhost", server.Port());
    const auto start = Clock::now();
    for (int i = 0; i < 20; ++i) {
        client.OpenTcpConnection();
        client.CloseTcpConnection();
    }
    // Twenty slept-out slices would take 2500 ms.
    EXPECT_LT(MillisecondsSince(start), 1500);
}

// Nobody listens on the port: refused at once, over IPv4 and IPv6 (an IPv6 literal is connected
// to over IPv6, not looked up as an IPv4 name). A connect from that very port meets itself (the
// socket's two ends are one) and must be refused all the same, not taken for a server; the
// system may choose the source port so on its own, here the test binds it.
TEST(TCPClient, RefusedConnectRaisesSocketErrorAtOnce) {
    struct Case {
        std::u16string host;
        bool fromTheSamePort;
        int32_t connectTimeout;
    };
    const Case cases[] = {{u"127.0.0.1", false, 5000},
                          {u"::1", false, 5000},
                          {u"127.0.0.1", true, 5000},
                          {u"::1", true, 5000},
                          {u"127.0.0.1", true, 0}};
    for (const Case& test : cases) {
        SCOPED_TRACE(TextToUtf8(test.host) + (test.fromTheSamePort ? " from the same port" : "") +
                     (test.connectTimeout == 0 ? " blocking" : ""));
        const uint16_t port = FreeLoopbackPort();
        const int descriptors = TransportOpenDescriptorCount();
        TIdTCPClientCustom client;
        Aim(client, test.host, port, test.connectTimeout);
        if (test.fromTheSamePort) {
            client.SetBoundIP(test.host);
            client.SetBoundPort(port);
        }
        const auto start = Clock::now();
        try {
            client.OpenTcpConnection();
            ADD_FAILURE() << "connected";
        } catch (const EIdSocketError& error) {
            EXPECT_EQ(error.ErrorCode(), 10061);
            EXPECT_EQ(error.Message(), u"Socket Error # 10061\r\nConnection refused.");
        }
        EXPECT_LT(MillisecondsSince(start), 2000);
        EXPECT_EQ(client.IOHandler(), nullptr);
        EXPECT_FALSE(client.TcpConnectionIsOpen());
        EXPECT_EQ(TransportOpenDescriptorCount(), descriptors);
    }
}

TEST(TCPClient, UnresolvableHostRaisesHostNotFoundAndLeavesNoHandler) {
    TIdTCPClientCustom client;
    Aim(client, std::u16string(70, u'x') + u".invalid", 110);
    try {
        client.OpenTcpConnection();
        FAIL();
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.ErrorCode(), 11001);
        EXPECT_EQ(error.Message(), u"Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TCPClient, HangingConnectTimesOutAfterTheConnectTimeout) {
    FullLoopbackListener listener;
    TIdTCPClientCustom client;
    Aim(client, u"127.0.0.1", listener.Port());
    const int threads = TransportThreadCount();
    const int descriptors = TransportOpenDescriptorCount();
    const auto start = Clock::now();
    try {
        client.OpenTcpConnection();
        FAIL();
    } catch (const EIdConnectTimeout& error) {
        EXPECT_EQ(error.Message(), u"Connect timed out.");
    }
    const int64_t elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 4900);
    EXPECT_LT(elapsed, 7000);
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_FALSE(client.TcpConnectionIsOpen());
    EXPECT_EQ(TransportThreadCount(), threads);
    EXPECT_EQ(TransportOpenDescriptorCount(), descriptors);
}

TEST(TCPClient, ConnectWithoutTimeOutRunsOnTheCallingThread) {
    ConnectedClient connected(kGreets);
    connected.client.CloseTcpConnection();
    connected.client.SetConnectTimeout(0);
    connected.client.OpenTcpConnection();
    EXPECT_EQ(connected.IO().ReadLine(), u"+OK hello");
}

TEST(TCPClient, ReconnectReusesTheHandlerAndSocketHandleWithANewSocket) {
    ConnectedClient connected(kGreets);
    TIdIOHandlerStack* handler = connected.client.IOHandler();
    TIdSocketHandle* binding = handler->Binding();
    EXPECT_EQ(connected.IO().ReadLine(), u"+OK hello");
    connected.client.CloseTcpConnection();
    EXPECT_FALSE(connected.client.TcpConnectionIsOpen());
    EXPECT_FALSE(binding->HandleAllocated());
    EXPECT_EQ(connected.client.IOHandler(), handler);

    connected.client.OpenTcpConnection();
    EXPECT_EQ(connected.client.IOHandler(), handler);
    EXPECT_EQ(handler->Binding(), binding);
    EXPECT_TRUE(binding->HandleAllocated());
    EXPECT_EQ(connected.IO().ReadLine(), u"+OK hello");
    EXPECT_EQ(connected.server.AcceptedConnections(), 2u);
    EXPECT_THROW(connected.client.OpenTcpConnection(), EIdAlreadyConnected);
}

TEST(TCPClient, SettingsReachAnExistingHandler) {
    ConnectedClient connected(kGreets);
    connected.client.SetReadTimeout(1234);
    EXPECT_EQ(connected.IO().ReadTimeout(), 1234);
    connected.IO().SetReadTimeout(77);
    EXPECT_EQ(connected.client.ReadTimeout(), 77);
}

TEST(TCPClient, CloseNotifiesThePeerFirst) {
    const Script notified = {ClientSends("QUIT")};
    const Script closedWithoutAWord = {};
    ScriptedServer server(std::vector<Script>{notified, closedWithoutAWord});
    ClientSayingGoodbye client;
    Aim(client, u"127.0.0.1", server.Port());
    client.OpenTcpConnection();
    client.CloseTcpConnection(true);
    client.OpenTcpConnection();
    client.CloseTcpConnection(false);
    EXPECT_TRUE(server.WaitUntilDone());
    EXPECT_EQ(server.ReceivedBytes(0), ClientBytes(notified));
    EXPECT_EQ(server.ReceivedBytes(1), ClientBytes(closedWithoutAWord));
}

TEST(TCPClient, FailingNotificationStillClosesTheSocket) {
    ConnectedClient connected(kGreets);
    ClientSayingGoodbye client;
    Aim(client, u"127.0.0.1", connected.server.Port());
    connected.client.CloseTcpConnection();
    client.OpenTcpConnection();
    client.peerGone = true;
    EXPECT_THROW(client.CloseTcpConnection(true), EIdConnClosedGracefully);
    EXPECT_FALSE(client.IOHandler()->HandlerOpen());
    EXPECT_FALSE(client.IOHandler()->Binding()->HandleAllocated());
}

TEST(TCPClient, LocalPortInUseRaisesCouldNotBind) {
    ScriptedServer server(kGreets);
    TIdTCPClientCustom client;
    Aim(client, u"127.0.0.1", server.Port());
    client.SetBoundIP(u"127.0.0.1");
    client.SetBoundPort(server.Port());
    EXPECT_THROW(client.OpenTcpConnection(), EIdCouldNotBindSocket);
    EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TCPClient, NoDescriptorOrThreadLeftAfterManyMixedConnects) {
    ScriptedServer server({CloseConnection()});
    FullLoopbackListener hanging;
    const uint16_t refusing = FreeLoopbackPort();
    const int threads = TransportThreadCount();
    const int descriptors = TransportOpenDescriptorCount();
    int timedOut = 0;
    int refused = 0;
    {
        TIdTCPClientCustom client;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            if (attempt % 50 == 49) {
                Aim(client, u"127.0.0.1", hanging.Port(), 200);
                EXPECT_THROW(client.OpenTcpConnection(), EIdConnectTimeout);
                ++timedOut;
            } else if (attempt % 3 == 1) {
                Aim(client, u"127.0.0.1", refusing);
                EXPECT_THROW(client.OpenTcpConnection(), EIdSocketError);
                ++refused;
            } else {
                Aim(client, u"127.0.0.1", server.Port());
                client.OpenTcpConnection();
                client.CloseTcpConnection();
            }
        }
    }
    EXPECT_EQ(timedOut, 20);
    EXPECT_GT(refused, 300);
    EXPECT_EQ(TransportThreadCount(), threads);
    EXPECT_EQ(TransportOpenDescriptorCount(), descriptors);
}

TEST(TCPClient, BytesLeftUnreadDoNotBlockTheNextConnect) {
    ConnectedClient connected(kGreets);
    ASSERT_TRUE(connected.IO().Binding()->WaitReadable(5000)) << "no greeting within 5 s";
    // The check takes the greeting in; nobody reads it before the close.
    EXPECT_TRUE(connected.client.TcpConnectionIsOpen());
    EXPECT_GT(connected.IO().InputQueue().Size(), 0);
    connected.client.CloseTcpConnection();
    EXPECT_FALSE(connected.client.TcpConnectionIsOpen());
    connected.client.OpenTcpConnection();
    EXPECT_EQ(connected.IO().ReadLine(), u"+OK hello");
}

TEST(TCPClient, RefusalNoticedByTheWatcherIsRaisedWithItsCode) {
    FullLoopbackListener listener;
    TIdTCPClientCustom client;
    Aim(client, u"127.0.0.1", listener.Port());
    // The connect is left waiting; once nobody listens, its next attempt is refused.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        listener.StopListening();
    });
    const auto start = Clock::now();
    try {
        client.OpenTcpConnection();
        FAIL() << "connected";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.ErrorCode(), 10061);
        EXPECT_EQ(error.Message(), u"Socket Error # 10061\r\nConnection refused.");
    }
    stopper.join();
    EXPECT_LT(MillisecondsSince(start), 4900);
    EXPECT_EQ(client.IOHandler(), nullptr);
}
