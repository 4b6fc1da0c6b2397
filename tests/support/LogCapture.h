// Test support: the log of a test process. The log object is created once
// per process, so the first use opens it at a fresh temporary path and every
// later test reads what was written since its own mark.
#pragma once

#include <string>

class LogCapture {
public:
    // Marks the current end of the process's log (opening it on first use).
    LogCapture();
    // The bytes written to the log since this object was made.
    std::string Text() const;
    // The path of the process's log file.
    static const std::string& Path();

private:
    size_t m_mark;
};

// Reads a whole file in binary; empty when it cannot be opened.
std::string ReadWholeFile(const std::string& path);
