#include "net/CSock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/Exceptions.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/tls.h"
#include "tests/support/HostName.h"
#include "tests/support/Interrupts.h"
#include "tests/support/Process.h"
#include "tests/support/SubmissionServer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Longest any peer waits for the other side, so a failing test ends instead
// of hanging.
constexpr uint32_t kPeerPatienceMs = 5000;

sockaddr_in Address(uint32_t hostOrderAddress, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(hostOrderAddress);
    return a;
}

sockaddr_in Loopback(uint16_t port = 0) { return Address(INADDR_LOOPBACK, port); }

sockaddr_in LocalName(plat::Socket s) {
    sockaddr_in a{};
    EXPECT_TRUE(plat::GetSockName(s, &a));
    return a;
}

// A loopback port bound but not listening: connections to it are refused.
// A port merely freed again could meanwhile be taken by another test's
// listener, or (on Linux) a connect could come from it and reach itself.
struct BoundPort {
    plat::Socket socket = plat::OpenSocket(plat::kSockStream);
    sockaddr_in address{};
    BoundPort() {
        sockaddr_in any = Loopback();
        EXPECT_TRUE(plat::Bind(socket, any));
        address = LocalName(socket);
    }
    ~BoundPort() { plat::CloseSocket(socket); }
    BoundPort(const BoundPort&) = delete;
    BoundPort& operator=(const BoundPort&) = delete;
};

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

void SendAll(plat::Socket s, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        int n = plat::Send(s, data.data() + sent, static_cast<int>(data.size() - sent));
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

// Reads until the other side closes (or stays silent too long); pauseMs
// between reads makes a slow reader.
std::string ReadToEnd(plat::Socket s, uint32_t pauseMs = 0) {
    std::string all;
    char buffer[65536];
    while (plat::WaitReadable(s, kPeerPatienceMs) == 1) {
        int n = plat::Recv(s, buffer, sizeof buffer);
        if (n <= 0) break;
        all.append(buffer, static_cast<size_t>(n));
        if (pauseMs != 0) plat::SleepMs(pauseMs);
    }
    return all;
}

// Reads up to and including the next line feed.
std::string ReadLine(plat::Socket s) {
    std::string line;
    char c = 0;
    while (c != '\n' && plat::WaitReadable(s, kPeerPatienceMs) == 1 && plat::Recv(s, &c, 1) == 1) line += c;
    return line;
}

// A stream peer on 127.0.0.1 made with the platform calls: it accepts one
// connection, runs its script on its own thread and then closes.
class Peer {
public:
    explicit Peer(std::function<void(plat::Socket)> script) {
        m_listener = plat::OpenSocket(plat::kSockStream);
        sockaddr_in any = Loopback();
        EXPECT_TRUE(plat::Bind(m_listener, any));
        EXPECT_TRUE(plat::Listen(m_listener, 4));
        address = LocalName(m_listener);
        m_thread = std::thread([this, script] {
            if (plat::WaitReadable(m_listener, kPeerPatienceMs) != 1) return;
            plat::Socket s = plat::Accept(m_listener);
            if (s == plat::kInvalidSocket) return;
            script(s);
            plat::ShutdownBoth(s);
            plat::CloseSocket(s);
        });
    }
    ~Peer() {
        m_thread.join();
        plat::CloseSocket(m_listener);
    }

    sockaddr_in address{};

private:
    plat::Socket m_listener;
    std::thread m_thread;
};

template <class E>
void ExpectRaised(const std::function<void()>& call, int32_t errorNo, const char* text) {
    try {
        call();
        ADD_FAILURE() << "nothing raised, expected " << text;
    } catch (const E& e) {
        EXPECT_EQ(e.GetErrorNo(), errorNo);
        EXPECT_STREQ(e.what(), text);
        EXPECT_NE(std::string(e.GetLocation()).find("net/CSock.cpp("), std::string::npos) << e.GetLocation();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "raised " << e.what() << ", expected " << text;
    }
}

// A test harness may start Windows Sockets itself and open its server before
// the first CSock exists; the CSock's own start-up must leave that server
// alone.
TEST(SockStartup, SocketsOpenedBeforeTheFirstCSockSurviveItsStartUp) {
    ASSERT_EQ(plat::StartupWinsock(), 0);
    Peer peer([](plat::Socket s) { SendAll(s, "220 ready\r\n"); });
    CSock sock;
    EXPECT_EQ(plat::StartupWinsock(), 0);
    const int32_t slot = sock.Create(&peer.address, 1, false);
    char line[CSock::kReceiveSize + 1];
    EXPECT_EQ(sock.ReceiveLine(line, slot), 11);
}

// Every test makes its CSock first: the first one in the process starts
// Windows Sockets, which the peers' own sockets need.
class SockTest : public ::testing::Test {
protected:
    CSock sock;
    char line[CSock::kReceiveSize + 1] = {};
};

TEST_F(SockTest, SlotTableFillsLowestFirstAndRefusesThe33rd) {
    for (int i = 0; i < CSock::kSlots; ++i) ASSERT_EQ(sock.Create(nullptr, 1, false), i);
    EXPECT_EQ(sock.GetCount(), 32);

    // The table is checked before a socket is made: m_lastError stays as it was.
    sock.m_lastError = 12345;
    ExpectRaised<CNotEnoughResource>([&] { sock.Create(nullptr, 1, false); }, 0, "NotEnoughResource");
    EXPECT_EQ(sock.m_lastError, 12345);
    EXPECT_EQ(sock.GetCount(), 32);

    sock.Close(5);
    sock.Close(20);
    EXPECT_EQ(sock.GetCount(), 30);
    for (int32_t slot : {5, -1, 32, 1000}) sock.Close(slot);  // free or no slot: nothing happens
    sock.Release(20);
    EXPECT_EQ(sock.GetCount(), 30);
    EXPECT_EQ(sock.Create(nullptr, 2, false), 5);
    EXPECT_EQ(sock.Create(nullptr, 1, false), 20);
    EXPECT_EQ(sock.GetCount(), 32);
}

TEST_F(SockTest, MisusedSlotsRaiseIllegalParamBeforeAnyCall) {
    const int32_t unbound = sock.Create(nullptr, 1, false);
    sockaddr_in here = Loopback();
    const int32_t listening = sock.Create(&here, 1, true);
    EXPECT_NE(sock.GetSocket(listening), plat::kInvalidSocket);

    for (int32_t slot : {unbound, listening, 7, -1, 32}) {
        SCOPED_TRACE(slot);
        sock.m_lastError = 99;
        ExpectRaised<CIllegalParam>([&] { sock.Send("x", slot); }, 0, "IllegalParam");
        EXPECT_EQ(sock.m_lastError, 0);
        ExpectRaised<CIllegalParam>([&] { sock.Receive(line, slot); }, 0, "IllegalParam");
    }
    Peer peer([](plat::Socket) {});
    const int32_t client = sock.Create(&peer.address, 1, false);
    ExpectRaised<CIllegalParam>([&] { sock.Send(nullptr, client); }, 0, "IllegalParam");
    ExpectRaised<CIllegalParam>([&] { sock.Send("abc", client, -1); }, 0, "IllegalParam");
    sock.Close(client);
}

TEST_F(SockTest, RefusedConnectionMakesFiveAttemptsOneSecondApart) {
    // A port with no listener, kept bound for the whole test: no other
    // test's listener can take it, and no connection can come from it.
    const BoundPort target;

    const size_t handles = OpenHandleCount();
    const auto start = Clock::now();
    try {
        sock.Create(&target.address, 1, false);
        FAIL() << "connected to a port with no listener";
    } catch (const CSockIOerror& e) {
        EXPECT_STREQ(e.what(), "SocketI/Oerror");
        EXPECT_NE(e.GetErrorNo(), 0);
        EXPECT_EQ(e.GetErrorNo(), sock.m_lastError);
    }
    const long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 4900);  // a pause after each of the five failures
    EXPECT_LT(elapsed, 9000);
    // The socket stays in its slot until Close.
    EXPECT_EQ(sock.GetCount(), 1);
    EXPECT_NE(sock.GetSocket(0), plat::kInvalidSocket);
    // Each attempt had a fresh socket; the one in the slot is the last.
    if (handles != 0) {
        EXPECT_EQ(OpenHandleCount(), handles + 1);
    }
    sock.Close(0);
    EXPECT_EQ(sock.GetCount(), 0);
    if (handles != 0) {
        EXPECT_EQ(OpenHandleCount(), handles);
    }
}

TEST_F(SockTest, ConnectRetriesUntilTheServerComesUp) {
    plat::Socket server = plat::OpenSocket(plat::kSockStream);
    sockaddr_in any = Loopback();
    ASSERT_TRUE(plat::SetReuseAddress(server));
    ASSERT_TRUE(plat::Bind(server, any));
    const sockaddr_in target = LocalName(server);
    std::thread late([&] {
        plat::SleepMs(1500);
        plat::Listen(server, 4);
    });
    const auto start = Clock::now();
    const int32_t slot = sock.Create(&target, 1, false);
    const long elapsed = ElapsedMs(start);
    late.join();
    EXPECT_GE(elapsed, 1400);
    EXPECT_LT(elapsed, 4000);
    plat::Socket accepted = plat::Accept(server);
    sock.Send("up\n", slot);
    EXPECT_EQ(ReadLine(accepted), "up\n");
    plat::CloseSocket(accepted);
    plat::CloseSocket(server);
}

TEST_F(SockTest, SendDeliversExactlyTheBytesAsked) {
    std::string received;
    {
        Peer peer([&](plat::Socket s) { received = ReadToEnd(s); });
        const int32_t slot = sock.Create(&peer.address, 1, false);
        const struct {
            const char* data;
            int32_t length;
        } sends[] = {
            {"HELO host\r\n", 0},  // up to the terminator
            {"abcdef", 3},         // only the length asked
            {"", 0},               // one empty send
            {"a\0b", 3},           // a length goes past a zero byte
        };
        for (const auto& s : sends) sock.Send(s.data, slot, s.length);
        EXPECT_EQ(sock.m_lastError, 0);
        sock.Close(slot);
    }
    EXPECT_EQ(received, std::string("HELO host\r\nabca\0b", 17));
}

TEST_F(SockTest, LargeSendArrivesWholeWhileThePeerReadsSlowly) {
    std::string message(8 * 1024 * 1024, '\0');
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>('A' + (i * 7 + i / 4099) % 26);
    std::string received;
    {
        Peer peer([&](plat::Socket s) { received = ReadToEnd(s, 2); });
        const int32_t slot = sock.Create(&peer.address, 1, false);
        sock.Send(message.data(), slot, static_cast<int32_t>(message.size()));
        sock.Close(slot);
    }
    ASSERT_EQ(received.size(), message.size());
    EXPECT_TRUE(received == message);
}

TEST_F(SockTest, ReceiveLineJoinsPiecesAndStopsAt4096Bytes) {
    const struct {
        std::vector<std::string> pieces;  // sent 150 ms apart
        std::string expected;
    } cases[] = {
        {{"250 first", "part\r\n"}, "250 firstpart\r\n"},
        {{"250-a\r\n250 b\r\n"}, "250-a\r\n250 b\r\n"},        // nothing is held back
        {{std::string("ab\0cd\r\n", 7), "ef\n"}, "abef\n"},      // a piece ends at its zero byte
        {{"x", std::string(3000, 'y'), std::string(2000, 'z')},  // no line feed: stops at 4096
         "x" + std::string(3000, 'y') + std::string(1095, 'z')},
        {{std::string(4096, 'a')}, std::string(4096, 'a')},  // exactly 4096 bytes, no line feed: done
        // A zero byte near the cap: what follows it is dropped, yet every
        // byte received counts towards 4096.
        {{std::string(4000, 'b'), "cd" + std::string(1, '\0') + std::string(93, 'e')}, std::string(4000, 'b') + "cd"},
    };
    sock.m_receiveTimeoutMs = kPeerPatienceMs;
    Peer peer([&](plat::Socket s) {
        for (const auto& c : cases) {
            for (const auto& piece : c.pieces) {
                SendAll(s, piece);
                plat::SleepMs(150);
            }
            if (ReadLine(s) != "next\n") return;
        }
    });
    const int32_t slot = sock.Create(&peer.address, 1, false);
    for (const auto& c : cases) {
        const int32_t length = sock.ReceiveLine(line, slot);
        EXPECT_EQ(length, static_cast<int32_t>(c.expected.size()));
        EXPECT_EQ(std::string(line), c.expected);
        sock.Send("next\n", slot);
    }
    sock.Close(slot);
}

TEST_F(SockTest, SilentPeerRaisesTimeOutAndTheConnectionLivesOn) {
    sock.m_receiveTimeoutMs = 200;
    Peer peer([&](plat::Socket s) {
        if (ReadLine(s) == "go\n") SendAll(s, "late\r\n");
        ReadToEnd(s);
    });
    const int32_t slot = sock.Create(&peer.address, 1, false);
    const auto start = Clock::now();
    ExpectRaised<CTimeOut>([&] { sock.ReceiveLine(line, slot); }, 0, "TimeOut");
    EXPECT_GE(ElapsedMs(start), 150);
    EXPECT_EQ(sock.GetCount(), 1);
    sock.Send("go\n", slot);
    EXPECT_EQ(sock.ReceiveLine(line, slot), 6);
    EXPECT_STREQ(line, "late\r\n");
    sock.Close(slot);
}

TEST_F(SockTest, AbortFromAnotherThreadEndsABlockedReceiveAndEveryLaterCall) {
    // Both kinds of wait: a receive without a time-out blocks in the receive
    // itself, one with a time-out in the wait for data.
    for (uint32_t timeoutMs : {plat::kInfinite, 10000u}) {
        SCOPED_TRACE(timeoutMs);
        CSock aborted;
        aborted.m_receiveTimeoutMs = timeoutMs;
        Peer peer([](plat::Socket s) { ReadToEnd(s); });  // silent until the client hangs up
        const int32_t slot = aborted.Create(&peer.address, 1, false);
        std::thread user([&] {
            plat::SleepMs(200);
            aborted.Abort();
        });
        const auto start = Clock::now();
        EXPECT_ANY_THROW(aborted.ReceiveLine(line, slot));
        EXPECT_LT(ElapsedMs(start), 1200);
        user.join();
        EXPECT_TRUE(aborted.Aborted());
        if (aborted.GetSocket(slot) != plat::kInvalidSocket) {
            EXPECT_ANY_THROW(aborted.Send("QUIT\r\n", slot));
        }
        EXPECT_THROW(aborted.Create(&peer.address, 1, false), CSockIOerror);
    }
}

TEST_F(SockTest, AbortWakesTheBlockedCallAndLeavesTheSocketToTheThreadThatUsesIt) {
    // Nothing is closed under the blocked thread: the socket is still its
    // own after the call has failed, and the peer sees the connection end
    // only when that thread closes it.
    const struct {
        const char* call;
        uint32_t receiveTimeoutMs;
        bool send;
    } cases[] = {{"receive", plat::kInfinite, false},
                 {"timed receive", 10000, false},
                 {"send to a peer that does not read", plat::kInfinite, true}};
    const std::string flood(32 * 1024 * 1024, 'x');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        CSock aborted;
        aborted.m_receiveTimeoutMs = c.receiveTimeoutMs;
        std::atomic<bool> failed{false}, checked{false}, openAfterAbort{false};
        Peer peer([&](plat::Socket s) {
            for (int i = 0; i < 500 && !failed; ++i) plat::SleepMs(10);
            // Whatever the client sent is still there; nothing else may be.
            openAfterAbort = c.send || plat::WaitReadable(s, 200) == 0;
            checked = true;
            ReadToEnd(s);
        });
        const int32_t slot = aborted.Create(&peer.address, 1, false);
        std::thread user([&] {
            plat::SleepMs(200);
            aborted.Abort();
        });
        const auto start = Clock::now();
        if (c.send)
            EXPECT_THROW(aborted.Send(flood.data(), slot, static_cast<int32_t>(flood.size())), CSockIOerror);
        else
            EXPECT_THROW(aborted.ReceiveLine(line, slot), CSockIOerror);
        EXPECT_LT(ElapsedMs(start), 1200);
        user.join();
        sockaddr_in local{};
        EXPECT_TRUE(plat::GetSockName(aborted.GetSocket(slot), &local));
        failed = true;
        for (int i = 0; i < 500 && !checked; ++i) plat::SleepMs(10);
        EXPECT_TRUE(openAfterAbort);
        aborted.Close(slot);
    }
}

TEST_F(SockTest, ConnectionAttemptsAreToldAndAnAbortEndsThem) {
    const BoundPort target;

    std::vector<int> attempts;
    sock.m_onConnectAttempt = [&](int attempt) {
        attempts.push_back(attempt);
        if (attempt == 3) sock.Abort();
    };
    const auto start = Clock::now();
    EXPECT_THROW(sock.Create(&target.address, 1, false), CSockIOerror);
    // Two whole pauses; the third attempt's pause ends with the abort.
    const long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 2800);
    EXPECT_EQ(attempts, (std::vector<int>{1, 2, 3}));
    sock.Close(0);
    EXPECT_EQ(sock.GetCount(), 0);
}

TEST_F(SockTest, PeerCloseFreesTheSlotAndLaterSendsAreRefused) {
    Peer peer([&](plat::Socket s) { SendAll(s, "221 bye\r\n"); });
    const int32_t other = sock.Create(nullptr, 1, false);
    const int32_t slot = sock.Create(&peer.address, 1, false);
    EXPECT_EQ(sock.ReceiveLine(line, slot), 9);
    EXPECT_EQ(sock.GetCount(), 2);
    ExpectRaised<CSockClose>([&] { sock.ReceiveLine(line, slot); }, 0, "SocketClose");
    EXPECT_EQ(sock.GetCount(), 1);
    EXPECT_EQ(sock.GetSocket(slot), plat::kInvalidSocket);
    ExpectRaised<CIllegalParam>([&] { sock.Send("QUIT\r\n", slot); }, 0, "IllegalParam");
    sock.Close(slot);
    EXPECT_EQ(sock.GetCount(), 1);
    EXPECT_NE(sock.GetSocket(other), plat::kInvalidSocket);
}

TEST_F(SockTest, WritingToAClosedPeerIsAnErrorNotTheEndOfTheProcess) {
    Peer peer([](plat::Socket) {});  // accepts and closes at once
    const int32_t slot = sock.Create(&peer.address, 1, false);
    plat::SleepMs(200);
    // The first write may still be taken; the peer's reset fails a later one.
    try {
        for (int i = 0; i < 50; ++i) {
            sock.Send("DATA\r\n", slot);
            plat::SleepMs(20);
        }
        FAIL() << "every send to a closed peer succeeded";
    } catch (const CSockIOerror& e) {
        EXPECT_NE(e.GetErrorNo(), 0);
        EXPECT_EQ(e.GetErrorNo(), sock.m_lastError);
    }
    EXPECT_EQ(sock.GetCount(), 1);  // only a receive frees the slot
}

TEST_F(SockTest, DatagramDestinationBecomesTheSlotAddress) {
    sockaddr_in here = Loopback();
    const int32_t first = sock.Create(&here, 2, true);
    const int32_t second = sock.Create(&here, 2, true);
    const sockaddr_in firstAddress = LocalName(sock.GetSocket(first));
    const sockaddr_in secondAddress = LocalName(sock.GetSocket(second));
    const int32_t sender = sock.Create(&here, 2, false);  // bound to every local address, port 0

    sock.m_receiveTimeoutMs = kPeerPatienceMs;
    const struct {
        const char* text;
        const sockaddr_in* destination;
        int32_t receiver;
    } sends[] = {
        {"one", &firstAddress, first},
        {"two", nullptr, first},
        {"three", &secondAddress, second},
        {"four", nullptr, second},
    };
    for (const auto& s : sends) {
        SCOPED_TRACE(s.text);
        sock.Send(s.text, sender, 0, s.destination);
        ASSERT_EQ(sock.Receive(line, s.receiver), static_cast<int32_t>(std::strlen(s.text)));
        EXPECT_EQ(std::string(line, std::strlen(s.text)), s.text);
    }
    sock.m_receiveTimeoutMs = 100;
    ExpectRaised<CTimeOut>([&] { sock.Receive(line, first); }, 0, "TimeOut");
}

TEST_F(SockTest, LocalAddressFallsBackToTheHostNamesAddress) {
    char name[plat::kHostNameSize] = "";
    ASSERT_TRUE(plat::GetHostName(name, sizeof name));
    uint32_t hostAddress = 0;
    ASSERT_TRUE(plat::HostAddress(name, &hostAddress));

    for (int32_t slot : {0, -1, 32}) EXPECT_EQ(sock.GetLocalAddress(slot), 0u);  // free or no slot
    sockaddr_in wildcard = Address(INADDR_ANY, 0);
    const int32_t server = sock.Create(&wildcard, 1, true);
    EXPECT_EQ(sock.GetLocalAddress(server), hostAddress);

    // A loopback connection's own address says nothing either.
    Peer peer([](plat::Socket s) { ReadToEnd(s); });
    const int32_t client = sock.Create(&peer.address, 1, false);
    EXPECT_EQ(sock.GetLocalAddress(client), hostAddress);
    sock.Close(client);
}

TEST_F(SockTest, LocalAddressIsLoopbackWhenTheHostNameDoesNotResolve) {
    char name[plat::kHostNameSize] = "";
    ASSERT_TRUE(plat::GetHostName(name, sizeof name));
    // One label longer than DNS allows: no resolver finds it, and no query
    // leaves the machine.
    if (!SetOwnHostName(std::string(64, 'q'))) GTEST_SKIP() << "needs a host name of its own (root, Linux)";
    sockaddr_in wildcard = Address(INADDR_ANY, 0);
    const int32_t server = sock.Create(&wildcard, 1, true);
    EXPECT_EQ(sock.GetLocalAddress(server), htonl(INADDR_LOOPBACK));
    SetOwnHostName(name);
}

TEST_F(SockTest, WrappedAcceptedSocketTalksAndClosesWithItsObject) {
    sockaddr_in here = Loopback();
    const int32_t server = sock.Create(&here, 1, true);
    const sockaddr_in serverAddress = LocalName(sock.GetSocket(server));

    CSock client;
    const int32_t slot = client.Create(&serverAddress, 1, false);
    sockaddr_in from{};
    plat::Socket accepted = plat::Accept(sock.GetSocket(server), &from);
    ASSERT_NE(accepted, plat::kInvalidSocket);
    {
        CSock wrapped(accepted, &from, 1, true, true, false);
        EXPECT_EQ(wrapped.GetCount(), 1);
        EXPECT_EQ(wrapped.GetSocket(0), accepted);
        EXPECT_EQ(wrapped.Create(nullptr, 1, false), 1);
        client.Send("220 hello\r\n", slot);
        EXPECT_EQ(wrapped.ReceiveLine(line, 0), 11);
        wrapped.Send("HELO me\r\n", 0);
        EXPECT_EQ(client.ReceiveLine(line, slot), 9);
        EXPECT_STREQ(line, "HELO me\r\n");
    }
    // The wrapper's destruction closed the accepted socket.
    client.m_receiveTimeoutMs = kPeerPatienceMs;
    ExpectRaised<CSockClose>([&] { client.Receive(line, slot); }, 0, "SocketClose");
}

// ---- what only a signal, a full pipe or a broken descriptor shows ----------

TEST(PlatformGaps, ASleepLastsItsTimeThroughSignals) {
    int signals = 0;
    const auto begun = Clock::now();
    if (!CallInterrupted([] { plat::SleepMs(300); }, 20, &signals)) GTEST_SKIP() << "no such signals here";
    EXPECT_GE(ElapsedMs(begun), 300);
    EXPECT_GE(signals, 5);
}

TEST(PlatformGaps, AShortWriteGoesOnWhereItStopped) {
    std::string data(1 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
    std::string received;
    bool result = true;
    if (!ReplaceThroughInterruptedPipe("sock_test_short_write", data, &received, &result))
        GTEST_SKIP() << "no named pipes here";
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
    EXPECT_FALSE(result);  // a pipe is never on a disk
}

// A TLS session on the submission server's port name (TLS from the first
// byte), the certificate checked against the test CA.
class TlsPeer : public ::testing::Test {
protected:
    void Open(const char* port) {
        if (SubmissionServer::Directory().empty()) GTEST_SKIP() << "runs with the submission server fixture only";
        ASSERT_EQ(plat::StartupWinsock(), 0);
        m_socket = plat::OpenSocket(plat::kSockStream);
        ASSERT_TRUE(plat::Connect(m_socket, Loopback(SubmissionServer::Port(port))));
        plat::TlsInfo info;
        int32_t detail = 0;
        ASSERT_EQ(plat::TlsConnect(m_socket, SubmissionServer::Value("SUBMIT_SERVER_NAME"), "", kPeerPatienceMs,
                                   &m_session, &info, &detail),
                  plat::TlsStatus::kOk);
    }
    void TearDown() override {
        plat::TlsClose(m_session, 0);
        if (m_socket != plat::kInvalidSocket) plat::CloseSocket(m_socket);
    }
    plat::Socket m_socket = plat::kInvalidSocket;
    plat::TlsSession* m_session = nullptr;
};

// Only a peer's reset or hang-up is the end of the connection; any other
// failure of the socket is an error of it.
TEST_F(TlsPeer, AWriteErrorOtherThanAHangUpIsAnIoError) {
    Open("TLS");
    if (!MakeUnwritable(m_socket)) GTEST_SKIP() << "no dup2 here";
    EXPECT_EQ(plat::TlsSend(m_session, "EHLO me\r\n", 9, 1000), plat::TlsStatus::kIoError);
}

// close_notify goes out and the peer's answer is not awaited.
TEST_F(TlsPeer, CloseAwaitsNoAnswer) {
    Open("STALLED_READER");
    const auto begun = Clock::now();
    plat::TlsClose(m_session, 2000);
    m_session = nullptr;
    EXPECT_LT(ElapsedMs(begun), 500);
}

// Nor does it wait longer than its time for a peer that reads nothing.
TEST_F(TlsPeer, CloseToAPeerThatReadsNothingEndsInItsTime) {
    if (!TlsSendsGiveUp()) GTEST_SKIP() << "sends block here";
    Open("STALLED_READER");
    const std::string chunk(1 << 20, 'x');
    plat::TlsStatus status = plat::TlsStatus::kOk;
    for (int i = 0; i < 256 && status == plat::TlsStatus::kOk; ++i)
        status = plat::TlsSend(m_session, chunk.data(), chunk.size(), 300);
    EXPECT_EQ(status, plat::TlsStatus::kTimeOut);
    const auto begun = Clock::now();
    plat::TlsClose(m_session, 300);
    m_session = nullptr;
    EXPECT_LT(ElapsedMs(begun), 1500);
}

}  // namespace
