// Test support: a scripted answerer for AfxMessageBox. While a recorder
// lives, every message box goes to it instead of the screen; it answers from
// its script and records each text, type and answer, with the log as it
// stood when the box appeared (so a test can tell a box from a later line).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "afx/afx.h"

class LogCapture;

struct MessageBoxCall {
    std::string text;     // the bytes shown (code page 932)
    unsigned type;        // MB_* flags
    int answer;           // what the recorder answered
    std::string logSoFar; // the log text written before the box (empty without a LogCapture)
};

class MessageBoxRecorder {
public:
    // answers are given to the boxes in order; once they run out, a Yes/No
    // box gets IDNO and every other box IDOK. log, when given, must outlive
    // the recorder.
    explicit MessageBoxRecorder(std::vector<int> answers = {}, const LogCapture* log = nullptr);
    // Puts the previous handler back.
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<MessageBoxCall>& Calls() const { return m_calls; }

private:
    std::deque<int> m_answers;
    const LogCapture* m_log;
    std::vector<MessageBoxCall> m_calls;
    MessageBoxHandler m_previous;
};
