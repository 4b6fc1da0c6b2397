// SendProgress: what a send is doing now, told to whoever shows it.
//
// The mailer calls OnStep on its own (sending) thread as the dialogue moves
// on; an observer that shows it on another thread does its own hand-over.
// The mailer never owns the observer.
#pragma once

enum class SendStep {
    kConnecting,   // a connection attempt; attempt counts from 1
    kEncrypting,   // the TLS handshake
    kSigningIn,    // SMTP AUTH
    kSending,      // MAIL FROM to the end of the data
    kDone,         // the server took the mail
};

class SendProgress {
public:
    virtual ~SendProgress() = default;
    // attempt is the connection attempt (1..) for kConnecting, 0 otherwise.
    // Must not throw.
    virtual void OnStep(SendStep step, int attempt) noexcept = 0;
};
