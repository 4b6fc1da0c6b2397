// The log file. The source name of this unit ("system") is what a log
// failure's location shows.
#include "base/system.h"

#include <cerrno>
#include <memory>

#include "base/Exceptions.h"
#include "platform/platform.h"

namespace {
// The single instance: set once by the first GetInstance call, never
// replaced, destroyed (and its stream closed) at process exit.
std::unique_ptr<CLogFile>& Instance() {
    static std::unique_ptr<CLogFile> instance;
    return instance;
}
}  // namespace

CLogFile* CLogFile::GetInstance(const char* path) {
    std::unique_ptr<CLogFile>& instance = Instance();
    if (instance) return instance.get();
    FILE* fp = nullptr;
    if (path != nullptr) {
        // Binary: the callers' "\r\n" reaches the file as it is. A new run
        // empties the file.
        fp = std::fopen(path, "wb");
        if (fp == nullptr) {
            const int e = errno;
            THROW_AT(CFileIOerror, e, plat::ErrnoText(e).c_str());
        }
    }
    instance.reset(new CLogFile(fp));
    return instance.get();
}

void CLogFile::Write(const char* text) {
    if (m_fp == nullptr) return;
    if (std::fputs(text, m_fp) < 0) {
        const int e = errno;
        THROW_AT(CFileIOerror, e, plat::ErrnoText(e).c_str());
    }
    // Flushed at once, so the log is complete whatever ends the process.
    std::fflush(m_fp);
}

CLogFile::~CLogFile() {
    if (m_fp != nullptr) std::fclose(m_fp);
}
