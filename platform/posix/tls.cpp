// posix side of the TLS interface: OpenSSL (Debian's libssl). The session
// works on the caller's socket in non-blocking mode, so that every wait is a
// poll bounded by the time left; the socket is blocking again after TlsClose.
// This file makes the session: the handshake; the records are
// tls_records.cpp's, the server certificate's checks cert.cpp's.
#include "tls_session.h"

#include "cert.h"

#include <cerrno>
#include <memory>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "platform/net.h"
#include "platform/platform.h"

namespace plat {

uint32_t Remaining(uint32_t started, uint32_t timeoutMs) {
    if (timeoutMs == kInfinite) return kInfinite;
    const uint32_t elapsed = TickCount() - started;
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

TlsStatus WaitFor(Socket s, Wake* wake, int sslError, uint32_t started, uint32_t timeoutMs) {
    const uint32_t left = Remaining(started, timeoutMs);
    if (left == 0) return TlsStatus::kTimeOut;
    const int r = WaitSocket(s, sslError == SSL_ERROR_WANT_WRITE, left, wake);
    if (r == 0) return TlsStatus::kTimeOut;
    if (r < 0) return TlsStatus::kIoError;
    return TlsStatus::kOk;
}

TlsStatus Failure(int sslError) {
    if (sslError == SSL_ERROR_ZERO_RETURN) return TlsStatus::kClosed;
    if (sslError == SSL_ERROR_SYSCALL) return errno == 0 || errno == ECONNRESET || errno == EPIPE ? TlsStatus::kClosed
                                                                                                : TlsStatus::kIoError;
    // OpenSSL 3 reports a peer that hangs up without close_notify this way.
    if (sslError == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return TlsStatus::kClosed;
    return TlsStatus::kHandshake;
}

TlsStatus TlsConnect(Socket s, const std::string& serverName, const std::string& pinSha256, uint32_t timeoutMs,
                     TlsSession** session, TlsInfo* info, int32_t* detail, Wake* wake) {
    const uint32_t started = TickCount();
    *session = nullptr;
    *detail = 0;
    auto tls = std::make_unique<TlsSession>();
    tls->ctx = SSL_CTX_new(TLS_client_method());
    if (tls->ctx == nullptr) return TlsStatus::kHandshake;
    SSL_CTX_set_min_proto_version(tls->ctx, TLS1_2_VERSION);
    // The certificate is checked once, after the handshake: a renegotiation
    // under TLS 1.2 would bring one nobody checks.
    SSL_CTX_set_options(tls->ctx, SSL_OP_NO_RENEGOTIATION);
    // Trust store: the system's (SSL_CERT_FILE / SSL_CERT_DIR override it).
    SSL_CTX_set_default_verify_paths(tls->ctx);
    // The handshake never stops on a bad certificate: the result is read
    // afterwards, so that a pin can replace it and each cause is told apart.
    SSL_CTX_set_verify(tls->ctx, SSL_VERIFY_NONE, nullptr);
    tls->ssl = SSL_new(tls->ctx);
    if (tls->ssl == nullptr) return TlsStatus::kHandshake;
    ExpectServerName(tls->ssl, serverName);
    tls->savedFlags = ::fcntl(s, F_GETFL);
    if (tls->savedFlags < 0 || ::fcntl(s, F_SETFL, tls->savedFlags | O_NONBLOCK) < 0) return TlsStatus::kIoError;
    tls->socket = s;
    tls->wake = wake;
    if (!SSL_set_fd(tls->ssl, s)) return TlsStatus::kHandshake;

    ERR_clear_error();
    for (;;) {
        errno = 0;
        const int r = SSL_connect(tls->ssl);
        if (r == 1) break;
        const int e = SSL_get_error(tls->ssl, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            const TlsStatus waited = WaitFor(s, wake, e, started, timeoutMs);
            if (waited != TlsStatus::kOk) return waited;
            continue;
        }
        *detail = static_cast<int32_t>(ERR_peek_last_error());
        const TlsStatus failure = Failure(e);
        ERR_clear_error();
        return failure;
    }
    // A TLS 1.3 server sends its session tickets and then, from the first
    // byte on, its greeting in a small segment that Nagle holds until the
    // tickets are acknowledged: acknowledging at once saves the delayed
    // acknowledgement's 40 ms per connection.
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    const TlsStatus checked = CheckCertificate(tls->ssl, pinSha256, Remaining(started, timeoutMs), &info->certSha256,
                                               &info->revocationUnknown, detail);
    if (checked != TlsStatus::kOk) return checked;
    info->protocol = SSL_get_version(tls->ssl);
    info->cipher = SSL_get_cipher_name(tls->ssl);
    *session = tls.release();
    return TlsStatus::kOk;
}

}  // namespace plat
