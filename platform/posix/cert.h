// posix side of the server certificate's checks, apart from the TLS session
// (tls.cpp) that receives the certificate. Each side has a cert.h of this
// name, declaring what its own tls.cpp calls with its own library's types.
#pragma once

#include <cstdint>
#include <string>

#include <openssl/ssl.h>

#include "platform/tls.h"

namespace plat {

// Sets what the certificate must name before the handshake: serverName's
// IP address (IPv4 or IPv6), or its host name, which then also goes out as
// SNI. ssl stays the caller's; nothing is thrown.
void ExpectServerName(SSL* ssl, const std::string& serverName);

// Checks the peer's certificate once the handshake on ssl (the caller's) is
// done: with a pin (64 lowercase hexadecimal digits) only that the
// certificate's SHA-256 is the pinned one, which replaces every other check,
// revocation included; without one the verification OpenSSL did against the
// trust store and the name, then the server certificate's revocation, whose
// CRL may take leftMs at most (3 s at the most). *sha256 gets the
// certificate's SHA-256 whenever it arrived, also when it is then refused;
// *revocationUnknown is set when a CRL is named but none could be had or
// checked; *detail gets OpenSSL's verification result. Returns kOk,
// kUntrusted, kNameMismatch, kPinMismatch or kRevoked. Throws only
// std::bad_alloc.
TlsStatus CheckCertificate(SSL* ssl, const std::string& pin, uint32_t leftMs, std::string* sha256,
                           bool* revocationUnknown, int32_t* detail);

}  // namespace plat
