// The extended dialogue's opening, a step of its own between the connection
// and the mail: the greeting (after the handshake for TLS from the first
// byte), EHLO and the capabilities it announces, STARTTLS with its handshake
// and second EHLO (RFC 3207), and SMTP AUTH, PLAIN or else LOGIN (RFC 4954,
// RFC 4616). The plain dialogue (HELO) never comes here.
#pragma once

#include "mail/SmtpConnection.h"
#include "mail/SmtpMailer.h"

namespace smtp {

// Opens the extended dialogue on conn with m's settings (encryption, server
// name, pin, user, password, time-out, progress) and fills info. Returns
// false when the server refused EHLO or STARTTLS (nothing more may be
// sent); throws CStartTlsNotOffered, CAuthNotOffered, CAuthRefused, what
// Connection throws, and CFileIOerror (log). The AUTH texts are logged
// masked.
bool OpenExtended(const CSmtpMailer& m, Connection& conn, CSmtpMailer::ConnectionInfo& info);

}  // namespace smtp
