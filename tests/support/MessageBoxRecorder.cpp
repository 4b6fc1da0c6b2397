#include "tests/support/MessageBoxRecorder.h"

#include <utility>

#include "tests/support/LogCapture.h"

MessageBoxRecorder::MessageBoxRecorder(std::vector<int> answers, const LogCapture* log)
    : m_answers(answers.begin(), answers.end()), m_log(log) {
    m_previous = AfxSetMessageBoxHandler([this](const char* text, unsigned type) {
        // The low four bits choose the buttons.
        int answer = (type & 0x0Fu) == MB_YESNO ? IDNO : IDOK;
        if (!m_answers.empty()) {
            answer = m_answers.front();
            m_answers.pop_front();
        }
        m_calls.push_back({text ? text : "", type, answer, m_log ? m_log->Text() : std::string()});
        return answer;
    });
}

MessageBoxRecorder::~MessageBoxRecorder() { AfxSetMessageBoxHandler(std::move(m_previous)); }
