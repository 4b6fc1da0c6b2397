// win32 side of the TLS interface, the record layer: application data
// encrypted and decrypted on the session the handshake made (tls.cpp), the
// post-handshake messages handed back to it, and close_notify.
#include "tls_session.h"

#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace plat {

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

namespace {

// Sends data as far as the socket takes it before timeoutMs from started
// have passed: a peer that reads nothing, whose window is closed, never
// holds the caller longer (a send would wait for it). A set wake-up sends
// nothing more. Returns whether every byte went.
bool SendWithin(const TlsSession& session, const char* data, size_t length, uint32_t started, uint32_t timeoutMs) {
    while (length > 0) {
        const uint32_t elapsed = TickCount() - started;
        const uint32_t left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        if (WaitSocket(session.socket, true, left, session.wake) != 1) return false;
        const int n = Send(session.socket, data, static_cast<int>(length), session.wake);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void TlsClose(TlsSession* session, uint32_t timeoutMs) {
    if (session == nullptr) return;
    const uint32_t started = TickCount();
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
                SendWithin(*session, static_cast<const char*>(token.buffer.pvBuffer), token.buffer.cbBuffer, started,
                           timeoutMs);
        }
    }
    delete session;
}

}  // namespace plat
