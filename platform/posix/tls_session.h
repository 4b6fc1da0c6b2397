// The OpenSSL session that the handshake (tls.cpp) makes and the record
// layer (tls_records.cpp) uses, and the waits both need. Private to the
// posix side of platform/tls.h.
#pragma once

#include <cstdint>

#include <fcntl.h>

#include <openssl/ssl.h>

#include "platform/net.h"
#include "platform/tls.h"

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

// The time left of a wait that began at started; kInfinite stays infinite.
uint32_t Remaining(uint32_t started, uint32_t timeoutMs);
// Waits for the socket to become readable or writable as OpenSSL asked, or
// for the wake-up.
TlsStatus WaitFor(Socket s, Wake* wake, int sslError, uint32_t started, uint32_t timeoutMs);
// The status for a failed SSL_* call that is not a wish to wait.
TlsStatus Failure(int sslError);

}  // namespace plat
