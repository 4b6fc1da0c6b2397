#include "base/Exceptions.h"

#include <cstdio>
#include <cstring>

#include "platform/libraries.h"

namespace {

[[noreturn]] void ThrowLibraryMissing(const char* file, unsigned line, long error, const char* text) {
    throw CSystemLibraryMissing(file, line, static_cast<int32_t>(error), text);
}
}  // namespace

// A call into a system library that cannot be had throws the program's own
// class (platform/libraries.h), set before main runs. Named, so that every
// program linked with the core asks for it (base/CMakeLists.txt): a program
// that only catches the class would not otherwise bring this object in.
extern "C" const bool quorpa_library_failure_set;
extern "C" const bool quorpa_library_failure_set = (plat::SetLibraryFailure(ThrowLibraryMissing), true);

CExceptionBase::CExceptionBase(const char* file, uint32_t line, int32_t errorNo, const char* text) {
    CExceptionBase::SetInfo(file, line, errorNo, text);
}

CExceptionBase::~CExceptionBase() = default;

const char* CExceptionBase::what() const noexcept { return m_text.c_str(); }

void CExceptionBase::SetInfo(const char* file, uint32_t line, int32_t errorNo, const char* text) {
    m_file = file ? file : "";
    m_line = line;
    m_errorNo = errorNo;
    m_text = text ? text : "";
}

namespace {
// Room for the file name and "(4294967295)". A fixed array, so the buffer
// never moves: a pointer handed out earlier shows the latest location
// instead of pointing at freed memory. A longer file name is cut short; the
// line number always stays.
constexpr size_t kLocationSize = 1024;
char g_location[kLocationSize];
}  // namespace

const char* CExceptionBase::GetLocation() const {
    char number[16];  // "(4294967295)" is 12 characters
    const int digits = std::snprintf(number, sizeof number, "(%u)", static_cast<unsigned>(m_line));
    const size_t room = kLocationSize - 1 - static_cast<size_t>(digits);
    const size_t fileLength = m_file.size() < room ? m_file.size() : room;
    std::memcpy(g_location, m_file.data(), fileLength);
    std::memcpy(g_location + fileLength, number, static_cast<size_t>(digits) + 1);
    return g_location;
}

int32_t CExceptionBase::GetErrorNo() const { return m_errorNo; }
