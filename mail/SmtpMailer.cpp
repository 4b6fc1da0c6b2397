// Placeholder until the SMTP client lands: lets the driver link.
#include "mail/SmtpMailer.h"

#include "base/Exceptions.h"

bool CSmtpMailer::SendMail(const tm&, const tm&, unsigned) { THROW_AT(CFatal, 0, "NotYet"); }
