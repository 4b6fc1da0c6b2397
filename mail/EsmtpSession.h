// The extended dialogue's opening, a step of its own between the connection
// and the mail: the greeting (after the handshake for TLS from the first
// byte), EHLO and the capabilities it announces, STARTTLS with its handshake
// and second EHLO (RFC 3207), and SMTP AUTH, PLAIN or else LOGIN (RFC 4954,
// RFC 4616). The plain dialogue (HELO) never comes here.
#pragma once

#include <cstdint>
#include <string>

#include "mail/MailAccount.h"
#include "mail/SendProgress.h"
#include "mail/SmtpConnection.h"

namespace smtp {

// What the opening (or the plain dialogue's HELO) found out about the server.
struct ConnectionInfo {
    std::string serverName;   // the first word of the EHLO (or HELO) reply, else of the greeting
    std::string tlsProtocol;  // "TLSv1.2", ...; empty without TLS
    std::string tlsCipher;
    std::string certSha256;   // the server certificate's SHA-256 (lowercase hex); empty without TLS
    bool pipelining = false;  // the last EHLO offered PIPELINING (RFC 2920)
    bool chunking = false;    // and CHUNKING: the message may go in BDAT (RFC 3030)
};

// Opens the extended dialogue on conn with account's settings (encryption,
// server name or else address, pin, user) and password (UTF-8, clear text),
// each reply within timeoutMs, and fills info; progress (null: nobody) is
// told of the handshake and the sign-in. Returns false when the server
// refused EHLO or STARTTLS (nothing more may be sent); throws
// CStartTlsNotOffered, CAuthNotOffered, CAuthRefused, what Connection
// throws, and CFileIOerror (log). The AUTH texts are logged masked.
//
// Given deferredAuth, a server that offers PIPELINING and AUTH PLAIN is not
// asked to sign in here: *deferredAuth gets AUTH PLAIN with its initial
// response (logged masked), for the caller to send first in its first group
// (RFC 4954 section 4 lets PLAIN, done in one round trip, be pipelined), and
// its reply goes to CheckSignedIn. Otherwise *deferredAuth stays empty. A
// server that offers CHUNKING as well signs in here all the same: there the
// message goes in the first group, and it must not go before the sign-in is
// known (a server that refuses the password may still take mail for its
// own users).
bool OpenExtended(const MailAccount& account, const std::string& password, uint32_t timeoutMs,
                  SendProgress* progress, Connection& conn, ConnectionInfo& info, Command* deferredAuth = nullptr);

// Throws CAuthRefused (with the reply's code) unless reply is AUTH's
// success, 235.
void CheckSignedIn(const std::string& reply);

}  // namespace smtp
