// The SChannel session that the handshake (tls.cpp) makes and the record
// layer (tls_records.cpp) uses, and the pieces both need. Private to the
// win32 side of platform/tls.h.
#pragma once

#define SECURITY_WIN32
// SCH_CREDENTIALS with TLS_PARAMETERS.
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>

#include <subauth.h>
#include <schannel.h>
#include <security.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net.h"
#include "platform/tls.h"

namespace plat {

// The handshake's requests: a stream of records with replay and sequence
// checks, SChannel allocates the output, the certificate is ours to check.
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

// The test seam's TLS 1.3 session ticket, which Wine never sends
// (seam::SchannelSplitsTicket): armed after the handshake, taken by the
// first record received, then done.
enum class SeamTicket { kNone, kArmed, kTaking, kDone };

struct TlsSession {
    Socket socket = kInvalidSocket;
    Wake* wake = nullptr;  // the socket's wake-up (not owned)
    CredHandle cred{};
    bool hasCred = false;
    CtxtHandle context{};
    bool hasContext = false;
    // The handshake's requests; gains ISC_REQ_USE_SUPPLIED_CREDS once the
    // server has asked for a client certificate, which we do not have.
    DWORD flags = kContextFlags;
    bool seamAskedCertificate = false;
    bool tls13 = false;  // the protocol agreed: TLS 1.2 alone can renegotiate
    bool allowsTls13 = false;  // the credentials let SChannel offer TLS 1.3
    unsigned long attributes = 0;  // what the last handshake step granted
    // A post-handshake message (a TLS 1.3 ticket or key update) is being
    // read: what arrives goes to the handshake until it is whole.
    bool postHandshake = false;
    SeamTicket seamTicket = SeamTicket::kNone;
    std::string seamHeld;  // the seam's byte for the next read
    SecPkgContext_StreamSizes sizes{};
    std::string in;     // received bytes not used yet
    std::string plain;  // decrypted bytes not handed out yet

    ~TlsSession() {
        if (hasContext) ::DeleteSecurityContext(&context);
        if (hasCred) ::FreeCredentialsHandle(&cred);
    }
};

// Frees what SChannel allocated for an output buffer.
struct OutputToken {
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
    ~OutputToken() {
        if (buffer.pvBuffer != nullptr) ::FreeContextBuffer(buffer.pvBuffer);
    }
};

// Sends every byte; false when the socket fails or the wake-up is set.
bool SendAll(const TlsSession& session, const char* data, size_t length);
// Appends what arrives within the time left (of timeoutMs since started)
// to session.in.
TlsStatus ReadMore(TlsSession& session, uint32_t started, uint32_t timeoutMs);
// One step of the handshake with what is in session.in; sends the token
// SChannel produces. Keeps input SChannel has not used.
SECURITY_STATUS HandshakeStep(TlsSession& session, const std::string& target, bool first);

}  // namespace plat
