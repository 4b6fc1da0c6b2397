// win32 side of the TLS interface: SChannel through SSPI. This file holds
// the session's making: its credentials and the handshake; the records are
// tls_records.cpp's, the server certificate's checks cert.cpp's.
//
// The session owns every buffer in one place: `in` holds what came from the
// socket and is not yet used (handshake tokens, encrypted records), `plain`
// what was decrypted and not yet handed out. The handshake loop in
// TlsConnect is the one state machine: each SECURITY_STATUS either reads
// more, answers again with the same input, or ends it with a TlsStatus
// (HandshakeFailure says which).
#include "tls_session.h"

#include "cert.h"

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
// What the finished handshake must have granted of those: without any of
// them the records would not be the protected stream the session assumes.
constexpr unsigned long kRequiredAttributes =
    ISC_RET_SEQUENCE_DETECT | ISC_RET_REPLAY_DETECT | ISC_RET_CONFIDENTIALITY | ISC_RET_STREAM;
// The first Windows build whose SChannel TLS 1.3 is no longer experimental
// (Windows Server 2022; Windows 11 is 22000 and later). Windows 10 stays
// below it.
constexpr unsigned long kFirstTls13Build = 20348;

uint32_t Remaining(uint32_t started, uint32_t timeoutMs) {
    if (timeoutMs == kInfinite) return kInfinite;
    const uint32_t elapsed = TickCount() - started;
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

}  // namespace

bool SendAll(const TlsSession& session, const char* data, size_t length) {
    while (length > 0) {
        const int n = Send(session.socket, data, static_cast<int>(length), session.wake);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

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

namespace {

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

}  // namespace

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

}  // namespace plat
