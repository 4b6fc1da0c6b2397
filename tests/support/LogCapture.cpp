#include "tests/support/LogCapture.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/system.h"
#include "platform/platform.h"

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string& LogCapture::Path() {
    static const std::string path = [] {
        std::ostringstream name;
        name << "quorpa-test-log-" << plat::CurrentProcessId() << ".log";
        // Relative to the working directory: the same text works natively and
        // under Wine, where /tmp is not a Windows path.
        std::string p = name.str();
        CLogFile::GetInstance(p.c_str());
        return p;
    }();
    return path;
}

LogCapture::LogCapture() : m_mark(ReadWholeFile(Path()).size()) {}

std::string LogCapture::Text() const { return ReadWholeFile(Path()).substr(m_mark); }
