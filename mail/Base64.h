// Base64 (RFC 4648), the one encoding of bytes the mail needs: the texts
// of SMTP AUTH (EsmtpSession) and the encoded words of a header
// (MailComposer). Owns nothing; throws std::bad_alloc only.
#pragma once

#include <string>

namespace smtp {

// data in Base64, padded with '=' to a multiple of four characters, on one
// line.
std::string Base64(const std::string& data);

}  // namespace smtp
