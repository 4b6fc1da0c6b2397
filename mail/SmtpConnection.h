// The transport under the SMTP dialogue: one connection to the server, in
// clear text or, once a handshake is done, through a TLS session over the
// same socket, and the exchange of one command and its reply, or of a group
// of commands sent at once and their replies read in order (PIPELINING, RFC
// 2920). Both the plain dialogue (SmtpMailer.cpp) and the extended one's
// opening (EsmtpSession.cpp) talk through it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/tls.h"

class CSock;

namespace smtp {

// One connection: the socket slot (not owned) and the TLS session over it,
// which it owns. Texts go through the session when there is one; without,
// exactly as the plain dialogue always did.
class Connection {
public:
    Connection(CSock& sock, int32_t slot) : m_sock(sock), m_slot(slot) {}
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Encrypted() const { return m_tls != nullptr; }
    plat::Socket Socket() const;

    // The handshake within timeoutMs (SNI and the certificate's name:
    // serverName; pin: a normalised fingerprint or empty); logs the "I:"
    // line, and after a failure the library's code and the refused
    // certificate's SHA-256. Throws CTlsError's kinds, CTimeOut.
    plat::TlsInfo StartTls(const std::string& serverName, const std::string& pin, uint32_t timeoutMs);

    // Sends text whole. Throws what CSock::Send throws; inside the session,
    // CSockIOerror, CSockClose or CTimeOut.
    void Send(const std::string& text, uint32_t timeoutMs);

    // Receives one whole reply, all its lines, within timeoutMs in total;
    // whatever arrived with its last piece belongs to it, as the plain
    // dialogue always took it. Throws what CSock::Receive throws; CTimeOut
    // when the time runs out between two pieces; CSockIOerror when the reply
    // exceeds kMaxReplySize (SmtpReply.h).
    std::string ReceiveReply(uint32_t timeoutMs);
    // The same for one reply of a group: exactly one reply, up to the line
    // feed of its last line; what came after it is kept for the next call
    // (the next command's reply, sent in the same piece).
    std::string ReceiveNextReply(uint32_t timeoutMs);

    // Ends the session with close_notify and closes the socket.
    void Close();

private:
    CSock& m_sock;
    int32_t m_slot;
    plat::TlsSession* m_tls = nullptr;
    std::string m_pending;  // received after the reply ReceiveNextReply gave last

    // Appends the next piece received to text within what is left of
    // timeoutMs since started. Throws as ReceiveReply.
    void ReceivePiece(std::string& text, uint32_t started, uint32_t timeoutMs);
};

// The three-digit code a reply begins with; 0 when it has none.
int ReplyCode(const std::string& reply);
// A reply beginning with 4 (transient) or 5 (permanent) refuses the step.
bool Refused(const std::string& reply);

// One command and its reply, both logged ("S:", "R:"); the command's log
// text may be a masked form of it. Throws what Send and ReceiveReply throw,
// and CFileIOerror (log).
std::string Exchange(Connection& conn, const std::string& command, const std::string& logText, uint32_t timeoutMs);

// One command of a group: the text sent and the log's text of it (a masked
// form, or the message under its "<SendMail>" line).
struct Command {
    std::string text;
    std::string logText;
};

// Sends the commands at once, in one piece, so that none waits for a reply
// or an acknowledgement of the one before (RFC 2920), and logs each ("S:").
// The replies are then read in order with GroupReply. Throws what Send
// throws (nothing logged), and CFileIOerror (log).
void SendGroup(Connection& conn, const std::vector<Command>& group, uint32_t timeoutMs);
// The next reply of a group (Connection::ReceiveNextReply), logged ("R:").
// Throws what ReceiveNextReply throws, and CFileIOerror (log).
std::string GroupReply(Connection& conn, uint32_t timeoutMs);

}  // namespace smtp
