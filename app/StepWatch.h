// StepWatch: what a send is doing, handed from the sending thread to the
// progress window (ProgressWindow.h) on the UI thread. The mailer is made
// with it as its SendProgress; it owns nothing and throws nothing.
#pragma once

#include <atomic>
#include <utility>

#include "mail/SendProgress.h"

// The send's step as the sending thread reports it, read by the UI thread:
// step and attempt packed into one value, so they are always read together.
class StepWatch : public SendProgress {
public:
    void OnStep(SendStep step, int attempt) noexcept override {
        m_packed = static_cast<int>(step) << 16 | (attempt & 0xFFFF);
    }
    // The step and its attempt number, as last reported.
    std::pair<SendStep, int> Now() const {
        const int packed = m_packed;
        return {static_cast<SendStep>(packed >> 16), packed & 0xFFFF};
    }
    // Back to the first connection attempt, as a new send begins.
    void Reset() noexcept { OnStep(SendStep::kConnecting, 1); }

private:
    std::atomic<int> m_packed{static_cast<int>(SendStep::kConnecting) << 16 | 1};
};

