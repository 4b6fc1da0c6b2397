// Test support: a scripted SMTP server on a free loopback port.
//
// The peer listens on 127.0.0.1 and, on a thread of its own, serves a fixed
// number of connections, one after the other, each with the same script: a
// list of actions (send a text, pause, read a command line, read the message
// data up to its end mark, close, wait for the client to hang up). It records
// every byte each connection received, so a test can compare what the client
// sent. It covers what a real server cannot be told to do: a reply split over
// two TCP pieces, a multi-line greeting sent in pieces, a close right after
// DATA, a server that never answers. It also checks a pipelining client: a
// group of commands must come at once, in one piece, before any reply.
//
// Typical use:
//     SmtpPeer peer(SmtpPeer::Accepting());            // or RefusingAt(...), ...
//     account.address = peer.Address();
//     account.port = peer.Port();
//     bool ok = CSmtpMailer(account, format).SendMail({start, end, 12, "", ""});
//     peer.Join();                                      // the script has run
//     EXPECT_EQ(peer.Received(), "HELO ...");           // what the client sent
//     EXPECT_EQ(peer.Error(), "");                      // the script ran as written
//
// Never blocks for ever: every wait of the peer gives up after kWaitMs and
// records that in Error(). Destroying the peer stops its thread. Throws
// std::runtime_error from the constructor when it cannot listen.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

class SmtpPeer {
public:
    // Longest wait of the peer for a connection, a command or the client's
    // hang-up; a test that gets this far has failed anyway.
    static constexpr uint32_t kWaitMs = 20000;
    // Pause between two pieces of one reply, long enough for the client to
    // receive the first piece on its own.
    static constexpr uint32_t kPieceGapMs = 150;
    // How long a group may take to come: on loopback it comes at once, and a
    // client waiting for a reply in between should fail the test quickly.
    static constexpr uint32_t kGroupWaitMs = 2000;

    struct Action {
        enum Kind { kSend, kPause, kReadLine, kReadData, kClose, kWaitForClose, kReadGroup } kind;
        std::string text;  // kSend: the bytes to send in one call
        uint32_t ms = 0;   // kPause: how long; kReadGroup: how many lines
    };
    using Script = std::vector<Action>;

    static Action Send(std::string text) { return {Action::kSend, std::move(text), 0}; }
    static Action Pause(uint32_t ms) { return {Action::kPause, {}, ms}; }
    // Reads one command up to and including its line feed. Anything more
    // that came with it fails the script: a command sent before the reply to
    // the one before, which only a group may do (ReadGroup).
    static Action ReadLine() { return {Action::kReadLine, {}, 0}; }
    // Reads the message up to and including the end mark "\r\n.\r\n".
    static Action ReadData() { return {Action::kReadData, {}, 0}; }
    // Closes the connection at once.
    static Action Close() { return {Action::kClose, {}, 0}; }
    // Sends nothing more and waits until the client closes the connection.
    static Action WaitForClose() { return {Action::kWaitForClose, {}, 0}; }
    // Reads `lines` commands before any reply, as a pipelining server may
    // (RFC 2920). They must come in one piece within kGroupWaitMs: a client
    // that waits for a reply in between, or sends the group in several
    // writes (each a delayed acknowledgement on a real link), fails. A BDAT
    // command counts with its chunk (RFC 3030).
    static Action ReadGroup(uint32_t lines) { return {Action::kReadGroup, {}, lines}; }

    // The dialogue steps, in order, for the script builders below.
    enum Step { kGreeting, kHelo, kMail, kRcpt, kData, kMessage, kQuit, kStepCount };
    // The replies of a server that accepts everything.
    static std::vector<std::string> AcceptingReplies();
    // A whole dialogue with these replies (one per Step); then waits for the
    // client to close.
    static Script Dialogue(const std::vector<std::string>& replies);
    // A server that accepts every step.
    static Script Accepting();
    // Accepts until step, answers it with reply and then waits for the client
    // to close (a client must send nothing after a refusal).
    static Script RefusingAt(Step step, const std::string& reply);
    // Accepts until step, reads its command (none for the greeting) and
    // closes the connection without a reply.
    static Script ClosingAt(Step step);
    // Accepts until step, reads its command and never answers.
    static Script SilentAt(Step step);

    // Listens on a free loopback port and serves `connections` connections
    // with script, one after the other.
    explicit SmtpPeer(Script script, int connections = 1);
    // Serves one connection with each script, in turn.
    explicit SmtpPeer(std::vector<Script> scripts);
    ~SmtpPeer();
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;

    uint16_t Port() const { return m_port; }          // host byte order
    uint32_t Address() const;                          // 127.0.0.1, network byte order
    // Waits until every connection's script has run (or a wait gave up).
    void Join();
    // The bytes connection `index` received, in order. Call after Join.
    std::string Received(int index = 0) const;
    // The number of connections accepted.
    int Connections() const;
    // Empty when the script ran as written; otherwise what went wrong.
    std::string Error() const;

private:
    void Serve();
    // Runs the script on one connection; index names its record.
    void Run(plat::Socket connection, size_t index);
    // Waits until s is readable, the stop flag is set or waitMs pass.
    bool WaitReadable(plat::Socket s, uint32_t waitMs = kWaitMs);
    // Receives what has arrived into pending and the record: 1 when data
    // came, 0 when the client closed (or the receive failed), -1 when it
    // stayed silent for waitMs or the peer is stopping.
    int Fill(plat::Socket s, std::string& pending, size_t index, uint32_t waitMs = kWaitMs);
    // kReadGroup: false (the connection closed) when the lines did not come.
    bool ReadGroup(plat::Socket s, std::string& pending, size_t index, uint32_t lines);
    void Fail(const std::string& what);

    std::vector<Script> m_scripts;  // one per connection
    plat::Socket m_listener = plat::kInvalidSocket;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_received;
    std::string m_error;
    std::thread m_thread;
};
