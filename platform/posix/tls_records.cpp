// posix side of the TLS interface, the record layer: application data
// through the session the handshake made (tls.cpp), and close_notify.
#include "tls_session.h"

#include <cerrno>
#include <cstring>

#include <openssl/err.h>

#include "platform/platform.h"

namespace plat {

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
