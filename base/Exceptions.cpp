#include "base/Exceptions.h"

#include <cstdio>

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

const char* CExceptionBase::GetLocation() const {
    // One buffer for the process, created on first use and released at exit.
    static std::string location;
    char number[16];  // "(4294967295)" is 12 characters
    std::snprintf(number, sizeof number, "(%u)", static_cast<unsigned>(m_line));
    location = m_file;
    location += number;
    return location.c_str();
}

int32_t CExceptionBase::GetErrorNo() const { return m_errorNo; }
