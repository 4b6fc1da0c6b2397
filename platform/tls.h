// The TLS part of the platform interface: a client session over a connected
// blocking stream socket, and the protection of a stored password.
//
// Windows uses SChannel (secur32, crypt32); elsewhere OpenSSL. Both sides
// speak TLS 1.2 or newer only, send the server name (SNI) and check the
// certificate themselves: the chain against the system's trust store and the
// name (an IP address text matches an IP entry), or, when a fingerprint pin is
// given, only that the certificate's SHA-256 is the pinned one. Without a
// pin the chain's revocation is checked too where the platform can (see
// TlsInfo::revocationUnknown); a pin is the user's own decision to trust
// exactly that certificate, and replaces every chain check, revocation
// included.
//
// The socket stays owned by its caller (a CSock slot). A session made with
// the slot's wake-up (platform/net.h) ends every wait and transfer when it
// is set, and starts none afterwards, so that another thread can stop it
// without touching the socket. Nothing
// here throws but std::bad_alloc; failures come back as TlsStatus values.
#pragma once

#include <cstdint>
#include <string>

#include "sys_types.h"

namespace plat {

enum class TlsStatus {
    kOk,
    kTimeOut,       // the time given ran out
    kClosed,        // the peer closed the connection (or sent close_notify)
    kIoError,       // the socket failed
    kHandshake,     // the handshake failed (protocol, version, cipher, a broken peer)
    kUntrusted,     // the certificate's chain does not lead to a trusted root
    kNameMismatch,  // the certificate is not for the server name
    kPinMismatch,   // the certificate is not the pinned one
    kRevoked,       // the certificate's issuer has revoked it
};

// What the session negotiated, for the log.
struct TlsInfo {
    std::string protocol;  // "TLSv1.2", "TLSv1.3"
    std::string cipher;    // the library's cipher suite name
    // The server certificate's SHA-256, 64 lowercase hexadecimal digits: set
    // whenever a certificate arrived, also when it was then refused, so that
    // the user can be shown what to pin.
    std::string certSha256;
    // The chain names where to learn whether a certificate was revoked (a
    // CRL distribution point, an OCSP responder) but no answer came (offline,
    // the server down): the connection goes on, the log says so. A chain that
    // names nowhere to ask is not reported.
    bool revocationUnknown = false;
};

struct TlsSession;
struct Wake;

// Runs the client handshake on s within timeoutMs in total (kInfinite:
// without limit). serverName goes out as SNI (unless it is an IP address)
// and is what the certificate must name. pinSha256 is empty or 64 lowercase
// hexadecimal digits. On success *session (owned by the caller, freed with
// TlsClose) and *info are set; otherwise *session stays null, info holds
// what was learnt (the certificate's SHA-256 at least when it was refused)
// and *detail
// holds the library's code (SECURITY_STATUS, OpenSSL's error or the chain's
// status) for the log. wake (may be null) is the socket's wake-up, which
// the session keeps: once it is set, the session's calls fail with kIoError.
TlsStatus TlsConnect(Socket s, const std::string& serverName, const std::string& pinSha256, uint32_t timeoutMs,
                     TlsSession** session, TlsInfo* info, int32_t* detail, Wake* wake = nullptr);
// Encrypts and sends every byte of data; the posix side gives up after
// timeoutMs, the Windows side's sends block as the plain dialogue's do.
TlsStatus TlsSend(TlsSession* session, const char* data, size_t length, uint32_t timeoutMs);
// Waits up to timeoutMs for decrypted data and stores up to size bytes of it
// in buffer; *received gets the count (> 0 on kOk).
TlsStatus TlsReceive(TlsSession* session, char* buffer, size_t size, uint32_t timeoutMs, size_t* received);
// Sends close_notify (within timeoutMs, not waiting for the peer's) and
// frees the session; the socket stays open. A null session is ignored.
void TlsClose(TlsSession* session, uint32_t timeoutMs);

// ---- stored secrets -----------------------------------------------------

// Encrypts clear for the current user (Windows: CryptProtectData, no extra
// entropy, no UI) and gives the result as uppercase hexadecimal digits.
// Elsewhere the text is only encoded, bound to the user id and checked on
// the way back: the native build serves the tests, not users. false on
// failure.
bool ProtectSecret(const std::string& clear, std::string* hex);
// The reverse of ProtectSecret; reads the digits in either case. false when
// the text is not hexadecimal or cannot be decrypted for this user.
bool UnprotectSecret(const std::string& hex, std::string* clear);

}  // namespace plat
