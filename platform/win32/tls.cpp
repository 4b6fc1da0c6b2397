// win32 side of the TLS interface: SChannel through SSPI. This file holds
// the session: its credentials, the handshake and the records; the server
// certificate's checks are cert.cpp's.
//
// The session owns every buffer in one place: `in` holds what came from the
// socket and is not yet used (handshake tokens, encrypted records), `plain`
// what was decrypted and not yet handed out. The handshake loop in
// TlsConnect is the one state machine: each SECURITY_STATUS either reads
// more, answers again with the same input, or ends it with a TlsStatus
// (HandshakeFailure says which).
#define SECURITY_WIN32
// SCH_CREDENTIALS with TLS_PARAMETERS.
#define SCHANNEL_USE_BLACKLISTS
#include "cert.h"

#include <subauth.h>
#include <schannel.h>
#include <security.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/net.h"
#include "platform/platform.h"
#include "platform/seams.h"

namespace plat {

namespace {

// A handshake whose tokens pile up beyond this is not a sane server
// (certificate chains are a few KiB).
constexpr size_t kMaxHandshakeInput = 256 * 1024;
// One socket read.
constexpr int kReadSize = 16 * 1024 + 1024;
// The handshake's requests: a stream of records with replay and sequence
// checks, SChannel allocates the output, the certificate is ours to check.
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
// What the finished handshake must have granted of those: without any of
// them the records would not be the protected stream the session assumes.
constexpr unsigned long kRequiredAttributes =
    ISC_RET_SEQUENCE_DETECT | ISC_RET_REPLAY_DETECT | ISC_RET_CONFIDENTIALITY | ISC_RET_STREAM;
// The first Windows build whose SChannel TLS 1.3 is no longer experimental
// (Windows Server 2022; Windows 11 is 22000 and later). Windows 10 stays
// below it.
constexpr unsigned long kFirstTls13Build = 20348;

// The test seam's TLS 1.3 session ticket, which Wine never sends
// (seam::SchannelSplitsTicket): armed after the handshake, taken by the
// first record received, then done.
enum class SeamTicket { kNone, kArmed, kTaking, kDone };

}  // namespace

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

namespace {

// Frees what SChannel allocated for an output buffer.
struct OutputToken {
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
    ~OutputToken() {
        if (buffer.pvBuffer != nullptr) ::FreeContextBuffer(buffer.pvBuffer);
    }
};

uint32_t Remaining(uint32_t started, uint32_t timeoutMs) {
    if (timeoutMs == kInfinite) return kInfinite;
    const uint32_t elapsed = TickCount() - started;
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

// Sends every byte; false when the socket fails or the wake-up is set.
bool SendAll(const TlsSession& session, const char* data, size_t length) {
    while (length > 0) {
        const int n = Send(session.socket, data, static_cast<int>(length), session.wake);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Appends what arrives within the time left to session.in.
TlsStatus ReadMore(TlsSession& session, uint32_t started, uint32_t timeoutMs) {
    if (!session.seamHeld.empty()) {
        session.in += session.seamHeld;
        session.seamHeld.clear();
        return TlsStatus::kOk;
    }
    const uint32_t left = Remaining(started, timeoutMs);
    if (left == 0) return TlsStatus::kTimeOut;
    const int ready = WaitReadable(session.socket, left, session.wake);
    if (ready == 0) return TlsStatus::kTimeOut;
    if (ready < 0) return TlsStatus::kIoError;
    char buffer[kReadSize];
    const int n = Recv(session.socket, buffer, sizeof buffer);
    if (n == 0) return TlsStatus::kClosed;
    if (n < 0) {
        const int error = LastSocketError();
        return error == WSAECONNRESET || error == WSAECONNABORTED ? TlsStatus::kClosed : TlsStatus::kIoError;
    }
    size_t length = static_cast<size_t>(n);
    if (session.seamTicket == SeamTicket::kArmed && length > 1) session.seamHeld.assign(buffer + --length, 1);
    session.in.append(buffer, length);
    return TlsStatus::kOk;
}

// What a failed handshake status means for the user.
TlsStatus HandshakeFailure(SECURITY_STATUS status) {
    switch (status) {
    case SEC_E_UNTRUSTED_ROOT:
    case SEC_E_CERT_EXPIRED:
    case SEC_E_CERT_UNKNOWN:
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
        return TlsStatus::kUntrusted;
    case SEC_E_WRONG_PRINCIPAL:
    case CERT_E_CN_NO_MATCH:
        return TlsStatus::kNameMismatch;
    default:  // SEC_E_ALGORITHM_MISMATCH, SEC_E_ILLEGAL_MESSAGE, SEC_E_UNSUPPORTED_FUNCTION, ...
        return TlsStatus::kHandshake;
    }
}

const char* ProtocolName(DWORD protocol) {
    if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLSv1.3";
    if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLSv1.2";
    if (protocol & SP_PROT_TLS1_1_CLIENT) return "TLSv1.1";
    if (protocol & SP_PROT_TLS1_0_CLIENT) return "TLSv1.0";
    return "TLS";
}

void DescribeSession(TlsSession& session, TlsInfo* info) {
    SecPkgContext_ConnectionInfo connection{};
    if (::QueryContextAttributesA(&session.context, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK)
        info->protocol = ProtocolName(connection.dwProtocol);
    SecPkgContext_CipherInfo cipher{};
    if (::QueryContextAttributesA(&session.context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK) {
        for (const WCHAR* c = cipher.szCipherSuite; *c != 0; ++c) info->cipher += static_cast<char>(*c);
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "alg 0x%lx/%lu bits", static_cast<unsigned long>(connection.aiCipher),
                      static_cast<unsigned long>(connection.dwCipherStrength));
        info->cipher = text;
    }
}

// The build number Windows itself reports: RtlGetVersion, which neither a
// compatibility shim nor a missing manifest entry changes (GetVersionEx's
// answer depends on both). 0 when unknown.
unsigned long WindowsBuild() {
    const unsigned long faked = seam::WindowsBuild();
    if (faked != 0) return faked;
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const FARPROC address = ntdll != nullptr ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
    if (address == nullptr) return 0;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(address));
    return rtlGetVersion(&version) == 0 ? version.dwBuildNumber : 0;
}

SECURITY_STATUS Acquire(TlsSession& session, void* cred) {
    TimeStamp expiry;
    const SECURITY_STATUS status = ::AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A),
                                                               SECPKG_CRED_OUTBOUND, nullptr, cred, nullptr, nullptr,
                                                               &session.cred, &expiry);
    if (status == SEC_E_OK) session.hasCred = true;
    return status;
}

// Acquires client credentials for TLS 1.2 and newer: SCH_CREDENTIALS where
// Windows takes it (10 1809 and later; Windows 11 then negotiates TLS 1.3),
// else SCHANNEL_CRED, first with TLS 1.3 asked for, then TLS 1.2 alone
// (older systems, Wine). TLS 1.3 only from kFirstTls13Build: before it,
// SChannel's TLS 1.3 was experimental.
SECURITY_STATUS AcquireCredentials(TlsSession& session) {
    constexpr DWORD kFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    const bool tls13 = WindowsBuild() >= kFirstTls13Build;
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT |
                                        SP_PROT_TLS1_1_CLIENT | (tls13 ? 0 : SP_PROT_TLS1_3_CLIENT);
    SCH_CREDENTIALS credentials{};
    credentials.dwVersion = SCH_CREDENTIALS_VERSION;
    credentials.dwFlags = kFlags;
    credentials.cTlsParameters = 1;
    credentials.pTlsParameters = &parameters;
    SECURITY_STATUS status =
        seam::SchannelRefusesSchCredentials() ? SEC_E_UNKNOWN_CREDENTIALS : Acquire(session, &credentials);
    session.allowsTls13 = tls13;
    if (status == SEC_E_OK) return status;

    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.dwFlags = kFlags;
    for (DWORD protocols : {static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT),
                            static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT)}) {
        session.allowsTls13 = (protocols & SP_PROT_TLS1_3_CLIENT) != 0;
        if (session.allowsTls13 && !tls13) continue;
        cred.grbitEnabledProtocols = protocols;
        status = Acquire(session, &cred);
        if (status == SEC_E_OK) break;
    }
    return status;
}

// One step of the handshake with what is in session.in; sends the token
// SChannel produces. Keeps input SChannel has not used.
SECURITY_STATUS HandshakeStep(TlsSession& session, const std::string& target, bool first) {
    SecBuffer input[2] = {{static_cast<unsigned long>(session.in.size()), SECBUFFER_TOKEN, &session.in[0]},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
    OutputToken token;
    SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, &token.buffer};
    unsigned long attributes = 0;
    TimeStamp expiry;
    SECURITY_STATUS status;
    if (!first && !session.seamAskedCertificate && seam::SchannelAsksClientCertificate()) {
        session.seamAskedCertificate = true;
        status = SEC_I_INCOMPLETE_CREDENTIALS;  // as SChannel says it: no token, no input used
    } else if (session.seamTicket == SeamTicket::kTaking) {
        // The seam's ticket is the first record: incomplete until all of it
        // is in; then taken, the record itself left for the data (it is the
        // server's).
        const size_t need = session.in.size() < 5 ? 6 : 5 + (static_cast<unsigned char>(session.in[3]) << 8 |
                                                             static_cast<unsigned char>(session.in[4]));
        if (session.in.size() < need) return SEC_E_INCOMPLETE_MESSAGE;
        session.seamTicket = SeamTicket::kDone;
        return SEC_E_OK;
    } else if (first && session.allowsTls13 && seam::WindowsBuild() != 0 &&
               seam::WindowsBuild() < kFirstTls13Build) {
        status = SEC_E_ILLEGAL_MESSAGE;  // that build's experimental TLS 1.3
    } else {
        status = ::InitializeSecurityContextA(
            &session.cred, first ? nullptr : &session.context,
            target.empty() ? nullptr : const_cast<char*>(target.c_str()), session.flags, 0, 0,
            first ? nullptr : &inputDesc, 0, first ? &session.context : nullptr, &outputDesc, &attributes, &expiry);
    }
    if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) session.hasContext = true;
    if (seam::SchannelWithholdsReplayDetection()) attributes &= ~ISC_RET_REPLAY_DETECT;
    session.attributes = attributes;
    if (status == SEC_E_INCOMPLETE_MESSAGE) return status;  // keep everything, read more
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
        // The server asks for an optional client certificate: go on at once
        // without one, with the same input (nothing of it was used).
        session.flags |= ISC_REQ_USE_SUPPLIED_CREDS;
        return status;
    }
    if ((status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || FAILED(status)) && token.buffer.cbBuffer > 0 &&
        token.buffer.pvBuffer != nullptr) {
        // A failure may still carry an alert for the peer.
        if (!SendAll(session, static_cast<const char*>(token.buffer.pvBuffer), token.buffer.cbBuffer) &&
            !FAILED(status))
            return SEC_E_INTERNAL_ERROR;
    }
    if (!first) {
        if (input[1].BufferType == SECBUFFER_EXTRA) {
            session.in.erase(0, session.in.size() - input[1].cbBuffer);
        } else {
            session.in.clear();
        }
    }
    return status;
}

}  // namespace

TlsStatus TlsConnect(Socket s, const std::string& serverName, const std::string& pinSha256, uint32_t timeoutMs,
                     TlsSession** session, TlsInfo* info, int32_t* detail, Wake* wake) {
    const uint32_t started = TickCount();
    *session = nullptr;
    *detail = 0;
    auto tls = std::make_unique<TlsSession>();
    tls->socket = s;
    tls->wake = wake;
    SECURITY_STATUS status = AcquireCredentials(*tls);
    if (status != SEC_E_OK) {
        *detail = status;
        return TlsStatus::kHandshake;
    }
    // SNI carries a name only, never an address.
    const std::string target = IsIpv4(serverName) ? std::string() : serverName;

    status = HandshakeStep(*tls, target, true);
    int certificateRequests = 0;
    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE ||
           status == SEC_I_INCOMPLETE_CREDENTIALS) {
        // A second request after the answer "none" would loop for ever.
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && ++certificateRequests > 1) break;
        // With input left over, SChannel goes on with it before anything new
        // is read; a request for a client certificate is answered with the
        // same input.
        if (status != SEC_I_INCOMPLETE_CREDENTIALS && (status == SEC_E_INCOMPLETE_MESSAGE || tls->in.empty())) {
            const TlsStatus read = ReadMore(*tls, started, timeoutMs);
            if (read != TlsStatus::kOk) {
                *detail = status;
                return read;
            }
            if (tls->in.size() > kMaxHandshakeInput) return TlsStatus::kHandshake;
        }
        status = HandshakeStep(*tls, target, false);
    }
    if (status != SEC_E_OK) {
        *detail = status;
        return HandshakeFailure(status);
    }
    if ((tls->attributes & kRequiredAttributes) != kRequiredAttributes) {
        *detail = static_cast<int32_t>(tls->attributes);
        return TlsStatus::kHandshake;
    }
    // The protocol agreed, whatever the credentials asked for: Wine takes
    // SCH_CREDENTIALS but ignores its disabled protocols.
    SecPkgContext_ConnectionInfo connection{};
    status = ::QueryContextAttributesA(&tls->context, SECPKG_ATTR_CONNECTION_INFO, &connection);
    if (status != SEC_E_OK || (connection.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0) {
        *detail = status != SEC_E_OK ? status : static_cast<int32_t>(connection.dwProtocol);
        return TlsStatus::kHandshake;
    }
    tls->tls13 = (connection.dwProtocol & SP_PROT_TLS1_3_CLIENT) != 0;
    status = ::QueryContextAttributesA(&tls->context, SECPKG_ATTR_STREAM_SIZES, &tls->sizes);
    if (status != SEC_E_OK) {
        *detail = status;
        return TlsStatus::kHandshake;
    }
    PCCERT_CONTEXT cert = nullptr;
    status = ::QueryContextAttributesA(&tls->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
    if (status != SEC_E_OK || cert == nullptr) {
        *detail = status;
        return TlsStatus::kUntrusted;
    }
    std::unique_ptr<const CERT_CONTEXT, decltype(&::CertFreeCertificateContext)> owned(cert,
                                                                                      &::CertFreeCertificateContext);
    const TlsStatus checked = CheckCertificate(cert, serverName, pinSha256, Remaining(started, timeoutMs), wake,
                                               &info->certSha256, &info->revocationUnknown, detail);
    if (checked != TlsStatus::kOk) return checked;
    DescribeSession(*tls, info);
    if (seam::SchannelSplitsTicket()) tls->seamTicket = SeamTicket::kArmed;
    *session = tls.release();
    return TlsStatus::kOk;
}

TlsStatus TlsSend(TlsSession* session, const char* data, size_t length, uint32_t) {
    const SecPkgContext_StreamSizes& sizes = session->sizes;
    std::vector<char> record(sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer);
    size_t sent = 0;
    do {
        const size_t chunk = length - sent < sizes.cbMaximumMessage ? length - sent : sizes.cbMaximumMessage;
        std::memcpy(record.data() + sizes.cbHeader, data + sent, chunk);
        SecBuffer buffers[4] = {
            {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record.data() + sizes.cbHeader},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + chunk},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (::EncryptMessage(&session->context, 0, &desc, 0) != SEC_E_OK) return TlsStatus::kIoError;
        if (!SendAll(*session, record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer))
            return TlsStatus::kIoError;
        sent += chunk;
    } while (sent < length);
    return TlsStatus::kOk;
}

TlsStatus TlsReceive(TlsSession* session, char* buffer, size_t size, uint32_t timeoutMs, size_t* received) {
    const uint32_t started = TickCount();
    *received = 0;
    while (session->plain.empty()) {
        SECURITY_STATUS status = SEC_E_INCOMPLETE_MESSAGE;
        if (!session->in.empty() && !session->postHandshake) {
            SecBuffer buffers[4] = {{static_cast<unsigned long>(session->in.size()), SECBUFFER_DATA, &session->in[0]},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            if (session->seamTicket == SeamTicket::kArmed) {
                // As SChannel tells a TLS 1.3 ticket: nothing decrypted, all
                // of the input left for the handshake.
                session->seamTicket = SeamTicket::kTaking;
                status = SEC_I_RENEGOTIATE;
                buffers[1] = {static_cast<unsigned long>(session->in.size()), SECBUFFER_EXTRA, &session->in[0]};
                buffers[0].cbBuffer = 0;
            } else {
                status = ::DecryptMessage(&session->context, &desc, 0, nullptr);
            }
            if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
                // Decrypted in place: copy the text before the leftover
                // moves to the front.
                size_t extra = 0;
                for (const SecBuffer& b : buffers) {
                    if (b.BufferType == SECBUFFER_DATA)
                        session->plain.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                    if (b.BufferType == SECBUFFER_EXTRA) extra = b.cbBuffer;
                }
                session->in.erase(0, session->in.size() - extra);
            }
            if (status == SEC_I_CONTEXT_EXPIRED) {
                if (!session->plain.empty()) break;
                return TlsStatus::kClosed;  // the peer's close_notify
            }
            if (status == SEC_I_RENEGOTIATE) {
                // Under TLS 1.2 the server asks for a new handshake, which
                // could bring a certificate nobody checks: refused.
                if (!session->tls13 && session->seamTicket != SeamTicket::kTaking) return TlsStatus::kIoError;
                // Post-handshake messages (a TLS 1.3 ticket or key update)
                // go back to the handshake, until each is whole.
                session->postHandshake = true;
            }
            if (status != SEC_E_OK && status != SEC_E_INCOMPLETE_MESSAGE && status != SEC_I_RENEGOTIATE)
                return TlsStatus::kIoError;
        }
        if (session->postHandshake && (status == SEC_I_RENEGOTIATE || !session->in.empty())) {
            // At once, and again after each read while the message is
            // incomplete: SChannel keeps nothing of an incomplete one, so its
            // bytes stay in `in` for the next try.
            status = HandshakeStep(*session, std::string(), false);
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE)
                return TlsStatus::kIoError;
            if (status != SEC_E_INCOMPLETE_MESSAGE) session->postHandshake = false;
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            const TlsStatus read = ReadMore(*session, started, timeoutMs);
            if (read != TlsStatus::kOk) return read;
        }
    }
    const size_t n = session->plain.size() < size ? session->plain.size() : size;
    std::memcpy(buffer, session->plain.data(), n);
    session->plain.erase(0, n);
    *received = n;
    return TlsStatus::kOk;
}

void TlsClose(TlsSession* session, uint32_t) {
    if (session == nullptr) return;
    if (session->hasContext) {
        // close_notify: SChannel makes the alert once told to shut down.
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
        if (::ApplyControlToken(&session->context, &controlDesc) == SEC_E_OK) {
            OutputToken token;
            SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, &token.buffer};
            unsigned long attributes = 0;
            TimeStamp expiry;
            const SECURITY_STATUS status =
                ::InitializeSecurityContextA(&session->cred, &session->context, nullptr, kContextFlags, 0, 0, nullptr,
                                             0, nullptr, &outputDesc, &attributes, &expiry);
            if ((status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) && token.buffer.cbBuffer > 0)
                SendAll(*session, static_cast<const char*>(token.buffer.pvBuffer), token.buffer.cbBuffer);
        }
    }
    delete session;
}

}  // namespace plat
