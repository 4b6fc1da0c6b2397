// CSock: a blocking IPv4 socket wrapper with a fixed table of 32 slots.
//
// Create opens a socket in the lowest free slot and returns its index; every
// later call names the slot. Each slot has its own mode-0 CLock. Failures
// raise the CExceptionBase family; m_lastError keeps the last socket error
// code. The first CSock constructed in the process starts Windows Sockets.
#pragma once

#include <cstdint>

#include "base/CLock.h"
#include "platform/net.h"

class CSock {
public:
    static constexpr int kSlots = 32;
    // One receive takes at most this much; ReceiveLine's buffer needs one
    // more byte for the terminator.
    static constexpr int kReceiveSize = 4096;

    // Empty table by default; with a socket, wraps it in slot 0.
    explicit CSock(plat::Socket socket = plat::kInvalidSocket, const sockaddr_in* address = nullptr,
                   int32_t type = -1, bool canRecv = true, bool canSend = true, bool canAccept = false);
    // Shuts down and closes every open socket.
    virtual ~CSock();
    CSock(const CSock&) = delete;
    CSock& operator=(const CSock&) = delete;

    // type 1 stream, 2 datagram. A stream client connects (five attempts one
    // second apart); a server binds (and a stream server listens).
    // Throws CNotEnoughResource, CSockCreateError, CSockIOerror.
    int32_t Create(const sockaddr_in* address, int32_t type, bool server);
    // Sends every byte of data (length 0: up to its terminator).
    // Throws CIllegalParam, CSockIOerror.
    void Send(const char* data, int32_t slot, int32_t length = 0, const sockaddr_in* destination = nullptr);
    // Receives into buffer (at least kReceiveSize bytes) and returns the count
    // (> 0). Throws CIllegalParam, CSockIOerror, CSockClose (the slot is
    // closed first), CTimeOut when m_receiveTimeoutMs passes with no data.
    int32_t Receive(char* buffer, int32_t slot);
    // Receives until a line feed has arrived or kReceiveSize bytes; buffer has
    // room for kReceiveSize + 1. Returns the length of the text stored.
    int32_t ReceiveLine(char* buffer, int32_t slot);
    void Close(int32_t slot);
    void Release(int32_t slot);
    // The local IPv4 address (network byte order); 0 for a free slot.
    uint32_t GetLocalAddress(int32_t slot);

    int32_t m_lastError = 0;
    // Longest wait of one Receive; plat::kInfinite waits without limit.
    uint32_t m_receiveTimeoutMs = plat::kInfinite;

private:
    plat::Socket m_socket[kSlots];
    int32_t m_type[kSlots];
    sockaddr_in m_addr[kSlots];
    sockaddr_in m_fromAddr;
    int32_t m_count = 0;
    CLock* m_slotLock[kSlots];  // one mode-0 lock per slot, owned
    bool m_canRecv[kSlots];
    bool m_canSend[kSlots];
    bool m_canAccept[kSlots];
};
