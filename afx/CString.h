// CString: the framework's byte string (code page 932 text), as the
// application shell and the reservation driver use it. A thin value type over
// std::string: it owns its bytes, may hold any byte value, and is always
// terminated for the C functions that take it.
#pragma once

#include <cstdarg>
#include <string>

class CString {
public:
    CString() = default;
    CString(const char* text) : m_s(text ? text : "") {}  // NOLINT: implicit, as the framework's
    CString(const char* data, int length) : m_s(data, static_cast<size_t>(length)) {}
    CString(const std::string& s) : m_s(s) {}  // NOLINT

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    // Releases spare capacity.
    void FreeExtra() { m_s.shrink_to_fit(); }
    operator const char*() const { return m_s.c_str(); }  // NOLINT
    const char* GetString() const { return m_s.c_str(); }
    const std::string& str() const { return m_s; }
    char GetAt(int i) const { return m_s[static_cast<size_t>(i)]; }

    CString& operator=(const char* text) { m_s = text ? text : ""; return *this; }
    CString& operator+=(const char* text) { if (text) m_s += text; return *this; }
    CString& operator+=(const CString& other) { m_s += other.m_s; return *this; }
    CString& operator+=(char c) { m_s += c; return *this; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_s != b.m_s; }

    // printf-style formatting into a buffer of the result's own size, so no
    // argument of any length can overflow it.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);

private:
    std::string m_s;
};
