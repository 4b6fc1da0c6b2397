// win32 side of the server certificate's checks, apart from the TLS session
// (tls.cpp) that receives the certificate. Each side has a cert.h of this
// name, declaring what its own tls.cpp calls with its own library's types.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tls.h"

// After windows.h, which platform/tls.h brings in.
#include <wincrypt.h>

namespace plat {

// Whether text is a dotted IPv4 address rather than a name: an address is
// never sent as SNI and is looked for among the certificate's IP entries.
bool IsIpv4(const std::string& text);

// Checks the server certificate cert (owned by the caller) for serverName:
// with a pin (64 lowercase hexadecimal digits) only that the certificate's
// SHA-256 is the pinned one, which replaces every chain check, revocation
// included: the user trusts that very certificate (mostly a self-signed one,
// which no CA can revoke). Without a pin the chain against the trust store
// and the SSL policy with the server name; either failing rejects it, then
// its revocation. leftMs: what is left of the handshake's time, which
// fetching missing intermediates, root updates and revocation over the
// network may use at most (kInfinite: a bound of its own); wake (may be
// null) is the socket's wake-up, whose setting ends that wait at once.
// *sha256 gets the certificate's SHA-256 whenever it can be computed, also
// when the certificate is then refused; *revocationUnknown is set when the
// chain names where to learn its revocation but no answer came; *detail
// gets the failing call's or the chain's code. Returns kOk, kUntrusted,
// kNameMismatch, kPinMismatch or kRevoked; kTimeOut when leftMs ran out
// while the chain was built, kIoError when wake was set meanwhile. Throws
// only std::bad_alloc.
TlsStatus CheckCertificate(PCCERT_CONTEXT cert, const std::string& serverName, const std::string& pin, uint32_t leftMs,
                           Wake* wake, std::string* sha256, bool* revocationUnknown, int32_t* detail);

}  // namespace plat
