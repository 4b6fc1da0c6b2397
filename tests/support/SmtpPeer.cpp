#include "tests/support/SmtpPeer.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/platform.h"

namespace {
// The peer looks at its stop flag this often while it waits.
constexpr uint32_t kSliceMs = 50;
}  // namespace

std::vector<std::string> SmtpPeer::AcceptingReplies() {
    return {"220 peer ready\r\n", "250 peer\r\n",    "250 sender ok\r\n", "250 recipient ok\r\n",
            "354 go ahead\r\n",   "250 queued\r\n", "221 bye\r\n"};
}

namespace {

// The peer's reading action for a step: the message is read up to its end
// mark, every other step is one command line, the greeting reads nothing.
void AddRead(SmtpPeer::Script& script, int step) {
    if (step == SmtpPeer::kMessage) {
        script.push_back(SmtpPeer::ReadData());
    } else if (step != SmtpPeer::kGreeting) {
        script.push_back(SmtpPeer::ReadLine());
    }
}

// Every step before `step` read and accepted.
SmtpPeer::Script AcceptedUntil(int step) {
    const std::vector<std::string> replies = SmtpPeer::AcceptingReplies();
    SmtpPeer::Script script;
    for (int s = SmtpPeer::kGreeting; s < step; ++s) {
        AddRead(script, s);
        script.push_back(SmtpPeer::Send(replies[s]));
    }
    return script;
}

}  // namespace

SmtpPeer::Script SmtpPeer::Dialogue(const std::vector<std::string>& replies) {
    Script script;
    for (int s = kGreeting; s < kStepCount; ++s) {
        AddRead(script, s);
        script.push_back(Send(replies.at(s)));
    }
    script.push_back(WaitForClose());
    return script;
}

SmtpPeer::Script SmtpPeer::Accepting() { return Dialogue(AcceptingReplies()); }

SmtpPeer::Script SmtpPeer::RefusingAt(Step step, const std::string& reply) {
    Script script = AcceptedUntil(step);
    AddRead(script, step);
    script.push_back(Send(reply));
    script.push_back(WaitForClose());
    return script;
}

SmtpPeer::Script SmtpPeer::ClosingAt(Step step) {
    Script script = AcceptedUntil(step);
    AddRead(script, step);
    script.push_back(Close());
    return script;
}

SmtpPeer::Script SmtpPeer::SilentAt(Step step) {
    Script script = AcceptedUntil(step);
    AddRead(script, step);
    script.push_back(WaitForClose());
    return script;
}

SmtpPeer::SmtpPeer(Script script, int connections)
    : SmtpPeer(std::vector<Script>(connections > 0 ? connections : 0, script)) {}

SmtpPeer::SmtpPeer(std::vector<Script> scripts) : m_scripts(std::move(scripts)) {
    plat::StartupWinsock();
    m_listener = plat::OpenSocket(plat::kSockStream);
    if (m_listener == plat::kInvalidSocket) throw std::runtime_error("SmtpPeer: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks a free port
    sockaddr_in bound{};
    if (!plat::Bind(m_listener, address) || !plat::Listen(m_listener, 8) || !plat::GetSockName(m_listener, &bound)) {
        plat::CloseSocket(m_listener);
        throw std::runtime_error("SmtpPeer: cannot listen on loopback");
    }
    m_port = ntohs(bound.sin_port);
    m_thread = std::thread(&SmtpPeer::Serve, this);
}

SmtpPeer::~SmtpPeer() {
    m_stop = true;
    Join();
    plat::CloseSocket(m_listener);
}

uint32_t SmtpPeer::Address() const { return htonl(INADDR_LOOPBACK); }

void SmtpPeer::Join() {
    if (m_thread.joinable()) m_thread.join();
}

std::string SmtpPeer::Received(int index) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return index >= 0 && static_cast<size_t>(index) < m_received.size() ? m_received[index] : std::string();
}

int SmtpPeer::Connections() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return static_cast<int>(m_received.size());
}

std::string SmtpPeer::Error() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_error;
}

void SmtpPeer::Fail(const std::string& what) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_error += what + "\n";
}

bool SmtpPeer::WaitReadable(plat::Socket s, uint32_t waitMs) {
    for (uint32_t waited = 0; waited < waitMs && !m_stop; waited += kSliceMs) {
        const int r = plat::WaitReadable(s, kSliceMs);
        if (r != 0) return r > 0;
    }
    return false;
}

int SmtpPeer::Fill(plat::Socket s, std::string& pending, size_t index, uint32_t waitMs) {
    if (!WaitReadable(s, waitMs)) return -1;
    char buffer[4096];
    const int n = plat::Recv(s, buffer, sizeof buffer);
    if (n <= 0) return 0;
    pending.append(buffer, n);
    std::lock_guard<std::mutex> hold(m_mutex);
    m_received[index].append(buffer, n);
    return 1;
}

void SmtpPeer::Serve() {
    for (size_t i = 0; i < m_scripts.size() && !m_stop; ++i) {
        if (!WaitReadable(m_listener)) {
            Fail("no connection " + std::to_string(i + 1));
            return;
        }
        const plat::Socket connection = plat::Accept(m_listener);
        if (connection == plat::kInvalidSocket) {
            Fail("accept failed");
            return;
        }
        size_t index;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_received.emplace_back();
            index = m_received.size() - 1;
        }
        Run(connection, index);
    }
}

namespace {

// How many whole lines text holds.
// Where the command at from ends: after its line feed, and for BDAT after
// the chunk of as many bytes as it names (RFC 3030); npos while it has not
// all come.
size_t CommandEnd(const std::string& text, size_t from) {
    const size_t lf = text.find('\n', from);
    if (lf == std::string::npos) return lf;
    if (text.compare(from, 5, "BDAT ") != 0) return lf + 1;
    const size_t chunk = std::strtoul(text.c_str() + from + 5, nullptr, 10);
    return text.size() - (lf + 1) < chunk ? std::string::npos : lf + 1 + chunk;
}

// The whole commands text holds.
size_t Lines(const std::string& text) {
    size_t count = 0;
    for (size_t at = 0; (at = CommandEnd(text, at)) != std::string::npos;) ++count;
    return count;
}

}  // namespace

bool SmtpPeer::ReadGroup(plat::Socket s, std::string& pending, size_t index, uint32_t lines) {
    int pieces = 0;
    while (Lines(pending) < lines) {
        if (Fill(s, pending, index, kGroupWaitMs) <= 0) {
            Fail("group of " + std::to_string(lines) + " lines: only " + std::to_string(Lines(pending)) + " came");
            return false;
        }
        ++pieces;
    }
    if (pieces > 1) Fail("group of " + std::to_string(lines) + " lines in " + std::to_string(pieces) + " pieces");
    size_t at = 0;
    for (uint32_t i = 0; i < lines; ++i) at = CommandEnd(pending, at);
    pending.erase(0, at);
    return true;
}

void SmtpPeer::Run(plat::Socket connection, size_t index) {
    std::string pending;
    bool open = true;
    for (const Action& action : m_scripts[index]) {
        switch (action.kind) {
        case Action::kSend:
            for (size_t sent = 0; sent < action.text.size();) {
                const int n = plat::Send(connection, action.text.data() + sent,
                                         static_cast<int>(action.text.size() - sent));
                if (n < 0) {
                    Fail("send failed: " + action.text);
                    break;
                }
                sent += n;
            }
            break;
        case Action::kPause:
            plat::SleepMs(action.ms);
            break;
        case Action::kReadLine:
        case Action::kReadData: {
            const std::string end = action.kind == Action::kReadLine ? "\n" : "\r\n.\r\n";
            size_t at;
            while ((at = pending.find(end)) == std::string::npos) {
                if (Fill(connection, pending, index) <= 0) {
                    Fail(action.kind == Action::kReadLine ? "no command line" : "no end of data");
                    plat::CloseSocket(connection);
                    return;
                }
            }
            pending.erase(0, at + end.size());
            if (action.kind == Action::kReadLine && !pending.empty()) Fail("came before its turn: " + pending);
            break;
        }
        case Action::kReadGroup:
            if (!ReadGroup(connection, pending, index, action.ms)) {
                plat::CloseSocket(connection);
                return;
            }
            break;
        case Action::kClose:
            plat::CloseSocket(connection);
            open = false;
            break;
        case Action::kWaitForClose: {
            int r;
            while ((r = Fill(connection, pending, index)) > 0) {
            }
            if (r < 0 && !m_stop) Fail("client did not close");
            break;
        }
        }
        if (!open) return;
    }
    plat::CloseSocket(connection);
}
