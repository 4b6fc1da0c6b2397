// posix side of the TLS interface: OpenSSL (Debian's libssl). The session
// works on the caller's socket in non-blocking mode, so that every wait is a
// poll bounded by the time left; the socket is blocking again after TlsClose.
#include "platform/tls.h"

#include <arpa/inet.h>

#include <cerrno>
#include <memory>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/http.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "platform/net.h"
#include "platform/platform.h"

namespace plat {

struct TlsSession {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    Socket socket = kInvalidSocket;
    Wake* wake = nullptr;  // the socket's wake-up (not owned)
    int savedFlags = 0;
    ~TlsSession() {
        if (ssl != nullptr) SSL_free(ssl);
        if (ctx != nullptr) SSL_CTX_free(ctx);
        if (socket != kInvalidSocket) ::fcntl(socket, F_SETFL, savedFlags);
    }
};

namespace {

// The time left of a wait that began at started; kInfinite stays infinite.
uint32_t Remaining(uint32_t started, uint32_t timeoutMs) {
    if (timeoutMs == kInfinite) return kInfinite;
    const uint32_t elapsed = TickCount() - started;
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

// Waits for the socket to become readable or writable as OpenSSL asked, or
// for the wake-up.
TlsStatus WaitFor(Socket s, Wake* wake, int sslError, uint32_t started, uint32_t timeoutMs) {
    const uint32_t left = Remaining(started, timeoutMs);
    if (left == 0) return TlsStatus::kTimeOut;
    const int r = WaitSocket(s, sslError == SSL_ERROR_WANT_WRITE, left, wake);
    if (r == 0) return TlsStatus::kTimeOut;
    if (r < 0) return TlsStatus::kIoError;
    return TlsStatus::kOk;
}

// The status for a failed SSL_* call that is not a wish to wait.
TlsStatus Failure(int sslError) {
    if (sslError == SSL_ERROR_ZERO_RETURN) return TlsStatus::kClosed;
    if (sslError == SSL_ERROR_SYSCALL) return errno == 0 || errno == ECONNRESET || errno == EPIPE ? TlsStatus::kClosed
                                                                                                : TlsStatus::kIoError;
    // OpenSSL 3 reports a peer that hangs up without close_notify this way.
    if (sslError == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return TlsStatus::kClosed;
    return TlsStatus::kHandshake;
}

std::string HexDigits(const unsigned char* data, unsigned length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

// Whether text is a dotted IPv4 (or an IPv6) address rather than a name.
bool IsIpAddress(const std::string& text) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, text.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// The longest a CRL may take to come. Short: OpenSSL retries a refused
// connection until its time-out, so a server whose CRL host is down costs
// this much each time.
constexpr uint32_t kMaxCrlMs = 3000;
// A CRL larger than this is no CRL for a mail server's certificate.
constexpr size_t kMaxCrlSize = 1024 * 1024;

// The first http URL among the certificate's CRL distribution points.
std::string CrlUrl(X509* cert) {
    std::string url;
    auto* points =
        static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr));
    for (int i = 0; points != nullptr && i < sk_DIST_POINT_num(points) && url.empty(); ++i) {
        const DIST_POINT_NAME* name = sk_DIST_POINT_value(points, i)->distpoint;
        if (name == nullptr || name->type != 0) continue;
        for (int j = 0; j < sk_GENERAL_NAME_num(name->name.fullname) && url.empty(); ++j) {
            const GENERAL_NAME* entry = sk_GENERAL_NAME_value(name->name.fullname, j);
            if (entry->type != GEN_URI) continue;
            const ASN1_IA5STRING* uri = entry->d.uniformResourceIdentifier;
            const std::string text(reinterpret_cast<const char*>(uri->data), static_cast<size_t>(uri->length));
            if (text.compare(0, 7, "http://") == 0) url = text;
        }
    }
    CRL_DIST_POINTS_free(points);
    return url;
}

// OpenSSL fetches no CRL itself: the one the server certificate names is
// fetched over HTTP (never through a proxy) within leftMs and checked with
// the issuer's key. Only the server certificate is checked: it is what a
// CA revokes in practice, and the intermediates' CRLs would cost one
// fetch each. No distribution point: kOk, nothing to report.
TlsStatus CheckRevocation(SSL* ssl, X509* cert, uint32_t leftMs, bool* unknown) {
    const std::string url = CrlUrl(cert);
    if (url.empty()) return TlsStatus::kOk;
    STACK_OF(X509)* chain = SSL_get0_verified_chain(ssl);
    X509* issuer = chain != nullptr && sk_X509_num(chain) > 1 ? sk_X509_value(chain, 1) : nullptr;
    const uint32_t ms = leftMs > kMaxCrlMs ? kMaxCrlMs : leftMs;
    BIO* body = issuer == nullptr || ms == 0 ? nullptr
                                             : OSSL_HTTP_get(url.c_str(), "", nullptr, nullptr, nullptr, nullptr,
                                                             nullptr, 0, nullptr, nullptr, 1, kMaxCrlSize,
                                                             static_cast<int>((ms + 999) / 1000));
    X509_CRL* crl = body != nullptr ? d2i_X509_CRL_bio(body, nullptr) : nullptr;
    BIO_free(body);
    ERR_clear_error();
    TlsStatus status = TlsStatus::kOk;
    X509_REVOKED* entry = nullptr;
    if (crl == nullptr || X509_CRL_verify(crl, X509_get0_pubkey(issuer)) != 1) {
        *unknown = true;
    } else if (X509_CRL_get0_by_cert(crl, &entry, cert) == 1) {
        status = TlsStatus::kRevoked;
    }
    X509_CRL_free(crl);
    return status;
}

// Checks the peer's certificate after the handshake: the pin (which replaces
// every other check, revocation included), or the verification OpenSSL did
// against the trust store and the name, then revocation.
TlsStatus CheckCertificate(SSL* ssl, const std::string& pin, uint32_t leftMs, std::string* sha256,
                           bool* revocationUnknown, int32_t* detail) {
    X509* cert = SSL_get1_peer_certificate(ssl);
    if (cert == nullptr) return TlsStatus::kUntrusted;
    TlsStatus status = TlsStatus::kOk;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length)) *sha256 = HexDigits(digest, length);
    if (!pin.empty()) {
        if (sha256->empty() || *sha256 != pin) status = TlsStatus::kPinMismatch;
    } else {
        const long result = SSL_get_verify_result(ssl);
        *detail = static_cast<int32_t>(result);
        if (result == X509_V_ERR_HOSTNAME_MISMATCH || result == X509_V_ERR_IP_ADDRESS_MISMATCH) {
            status = TlsStatus::kNameMismatch;
        } else if (result != X509_V_OK) {
            status = TlsStatus::kUntrusted;
        } else {
            status = CheckRevocation(ssl, cert, leftMs, revocationUnknown);
        }
    }
    X509_free(cert);
    return status;
}

}  // namespace

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
    X509_VERIFY_PARAM* param = SSL_get0_param(tls->ssl);
    if (IsIpAddress(serverName)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, serverName.c_str());
    } else {
        SSL_set_tlsext_host_name(tls->ssl, serverName.c_str());
        X509_VERIFY_PARAM_set1_host(param, serverName.c_str(), 0);
    }
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

TlsStatus TlsSend(TlsSession* session, const char* data, size_t length, uint32_t timeoutMs) {
    // The socket does not block, so only the wake-up itself can stop a write.
    if (IsWakeSet(session->wake)) return TlsStatus::kIoError;
    const uint32_t started = TickCount();
    size_t sent = 0;
    while (sent < length) {
        errno = 0;
        size_t n = 0;
        const int r = SSL_write_ex(session->ssl, data + sent, length - sent, &n);
        if (r == 1) {
            sent += n;
            continue;
        }
        const int e = SSL_get_error(session->ssl, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            const TlsStatus waited = WaitFor(session->socket, session->wake, e, started, timeoutMs);
            if (waited != TlsStatus::kOk) return waited;
            continue;
        }
        ERR_clear_error();
        return Failure(e) == TlsStatus::kHandshake ? TlsStatus::kIoError : Failure(e);
    }
    return TlsStatus::kOk;
}

TlsStatus TlsReceive(TlsSession* session, char* buffer, size_t size, uint32_t timeoutMs, size_t* received) {
    const uint32_t started = TickCount();
    *received = 0;
    if (IsWakeSet(session->wake)) return TlsStatus::kIoError;
    for (;;) {
        errno = 0;
        const int r = SSL_read_ex(session->ssl, buffer, size, received);
        if (r == 1) return TlsStatus::kOk;
        const int e = SSL_get_error(session->ssl, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            const TlsStatus waited = WaitFor(session->socket, session->wake, e, started, timeoutMs);
            if (waited != TlsStatus::kOk) return waited;
            continue;
        }
        const TlsStatus failure = Failure(e);
        ERR_clear_error();
        return failure == TlsStatus::kHandshake ? TlsStatus::kIoError : failure;
    }
}

void TlsClose(TlsSession* session, uint32_t timeoutMs) {
    if (session == nullptr) return;
    // close_notify goes out; the peer's answer is not awaited (RFC 8446
    // section 6.1 lets a client close its side at once).
    const uint32_t started = TickCount();
    // A stopped session sends nothing more, close_notify neither.
    while (!IsWakeSet(session->wake)) {
        const int r = SSL_shutdown(session->ssl);
        if (r >= 0) break;
        const int e = SSL_get_error(session->ssl, r);
        if ((e != SSL_ERROR_WANT_WRITE && e != SSL_ERROR_WANT_READ) ||
            WaitFor(session->socket, session->wake, e, started, timeoutMs) != TlsStatus::kOk)
            break;
    }
    ERR_clear_error();
    delete session;
}

}  // namespace plat
