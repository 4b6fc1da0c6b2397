// CSock: a blocking IPv4 socket wrapper with a fixed table of 32 slots.
//
// Create opens a socket in the lowest free slot and returns its index; every
// later call names the slot. Each slot has its own mode-0 CLock. Failures
// raise the CExceptionBase family; m_lastError keeps the last socket error
// code. The first CSock constructed in the process starts Windows Sockets.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "base/CLock.h"
#include "platform/net.h"

class CSock {
public:
    static constexpr int kSlots = 32;
    // One receive takes at most this much; ReceiveLine's buffer needs one
    // more byte for the terminator.
    static constexpr int kReceiveSize = 4096;

    // Empty table by default; with a socket, wraps it in slot 0 and owns it.
    // The first CSock of the process starts Windows Sockets
    // (plat::StartupWinsock).
    // Throws std::bad_alloc when the slot locks or the wake-up cannot be made.
    explicit CSock(plat::Socket socket = plat::kInvalidSocket, const sockaddr_in* address = nullptr,
                   int32_t type = -1, bool canRecv = true, bool canSend = true, bool canAccept = false);
    // Shuts down and closes every open socket.
    virtual ~CSock();
    CSock(const CSock&) = delete;
    CSock& operator=(const CSock&) = delete;

    // type 1 stream, 2 datagram. A stream client connects (five attempts one
    // second apart, each told to m_onConnectAttempt first); a server binds (and a stream server listens); a datagram
    // client binds the address's port on every local address and may
    // broadcast. A null address leaves the socket unbound, and the slot allows
    // neither Send nor Receive. Returns the lowest free slot.
    // Throws CNotEnoughResource (32 slots in use), CSockCreateError,
    // CSockIOerror; after a CSockIOerror the socket stays in its slot until
    // Close or destruction.
    int32_t Create(const sockaddr_in* address, int32_t type, bool server);
    // Sends every byte of data (length 0: up to its terminator). A datagram
    // slot sends one datagram to destination, which then becomes the slot's
    // address, or without one to the slot's address.
    // Throws CIllegalParam (slot not open for sending, null data, negative
    // length), CSockIOerror.
    void Send(const char* data, int32_t slot, int32_t length = 0, const sockaddr_in* destination = nullptr);
    // Receives into buffer (at least kReceiveSize bytes) and returns the count
    // (> 0). Throws CIllegalParam, CSockIOerror, CSockClose (the slot is
    // closed first), CTimeOut when m_receiveTimeoutMs passes with no data.
    int32_t Receive(char* buffer, int32_t slot);
    // Receives until a line feed has arrived or kReceiveSize bytes; buffer has
    // room for kReceiveSize + 1. Returns the length of the text stored, which
    // is everything that arrived (each piece up to its first zero byte), so
    // it may hold more than one line. Throws what Receive throws.
    int32_t ReceiveLine(char* buffer, int32_t slot);
    // Shuts down and closes the slot's socket and frees the slot; a free slot
    // is left alone. After Abort only what the abort left is freed.
    void Close(int32_t slot);
    // Ends this object's work at once; callable from any thread (it is how a
    // send in progress is stopped by the user). It touches no socket: it
    // sets the object's wake-up (plat::Wake), so every call blocked on one of
    // its sockets (connect, send, wait, receive, the TLS session made with
    // GetWake) returns with a failure, the pause between connection attempts
    // ends, and every later call fails: Create, Send and Receive throw
    // CSockIOerror. The sockets stay in their slots until the thread that
    // uses them calls Close, or destruction; Windows could otherwise give a
    // closed socket's handle value to a new one under that thread.
    void Abort() noexcept;
    bool Aborted() const { return m_aborted; }
    // The wake-up Abort sets, for a TLS session over one of the sockets.
    plat::Wake* GetWake() const { return m_wake.get(); }
    // Frees the slot without touching its socket; a free slot is left alone.
    void Release(int32_t slot);
    // The local IPv4 address (network byte order); 0 for a free slot. An
    // unbound, wildcard, loopback or broadcast local address gives the host
    // name's first address instead, or the loopback address when the host
    // name does not resolve. Throws CSockIOerror.
    uint32_t GetLocalAddress(int32_t slot);

    // The number of occupied slots.
    int32_t GetCount() const { return m_count; }
    // The slot's socket (still owned by this object); kInvalidSocket for a
    // free slot.
    plat::Socket GetSocket(int32_t slot) const;

    int32_t m_lastError = 0;
    // Longest wait of one Receive; plat::kInfinite waits without limit.
    uint32_t m_receiveTimeoutMs = plat::kInfinite;
    // Told the number (1 to 5) of each connection attempt of a stream client
    // before it is made, on the connecting thread; must not throw.
    std::function<void(int attempt)> m_onConnectAttempt;

private:
    plat::Socket m_socket[kSlots];
    int32_t m_type[kSlots];
    sockaddr_in m_addr[kSlots];
    sockaddr_in m_fromAddr;
    int32_t m_count = 0;
    std::unique_ptr<CLock> m_slotLock[kSlots];  // one mode-0 lock per slot
    bool m_canRecv[kSlots];
    bool m_canSend[kSlots];
    bool m_canAccept[kSlots];

    // Guards the socket table against Abort from another thread.
    std::mutex m_abortLock;
    std::atomic<bool> m_aborted{false};
    struct WakeDeleter {
        void operator()(plat::Wake* wake) const { plat::DestroyWake(wake); }
    };
    std::unique_ptr<plat::Wake, WakeDeleter> m_wake;

    bool IsOpen(int32_t slot) const;
    // Puts a new socket of the slot's type into the slot in place of s, which
    // it closes; s becomes the new one. false (m_lastError set) when no
    // socket can be made; s is then left as it was.
    bool Renew(int32_t slot, plat::Socket& s);
    // Empties an occupied slot under m_abortLock (a free one is left alone).
    void FreeSlot(int32_t slot);
};
