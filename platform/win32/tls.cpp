// win32 side of the TLS interface: SChannel through SSPI (being written).
#include "platform/tls.h"

namespace plat {

struct TlsSession {};

TlsStatus TlsConnect(Socket, const std::string&, const std::string&, uint32_t, TlsSession** session, TlsInfo*,
                     int32_t* detail) {
    *session = nullptr;
    *detail = 0;
    return TlsStatus::kHandshake;
}
TlsStatus TlsSend(TlsSession*, const char*, size_t, uint32_t) { return TlsStatus::kIoError; }
TlsStatus TlsReceive(TlsSession*, char*, size_t, uint32_t, size_t* received) {
    *received = 0;
    return TlsStatus::kIoError;
}
void TlsClose(TlsSession* session, uint32_t) { delete session; }

}  // namespace plat
