// The log: an optional trace of one run, kept in one file beside the
// executable. One process-wide CLogFile carries it; when no file is open a
// write does nothing, so no caller tests whether logging is on.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class CLogFile {
public:
    // The first call creates the single instance: with a path, it opens that
    // file anew with mode "wb" (created, or emptied if it exists); with a null
    // path, it creates the instance without a file. Later calls return the
    // same instance and ignore path. The instance owns the stream and closes
    // it at process exit.
    // Throws CFileIOerror (errno, strerror text) when the file cannot be
    // opened; no instance is created then.
    static CLogFile* GetInstance(const char* path);

    // Creates the single instance over a stream the caller has opened (for
    // a path the C runtime's char functions cannot name), or without a file
    // when fp is null; the instance owns fp from then on. When the instance
    // exists already, fp is closed and the instance returned. Throws only
    // std::bad_alloc (fp is closed then).
    static CLogFile* Adopt(FILE* fp);

    // Writes text exactly as given (no time stamp, no line end) and flushes.
    // Does nothing when no file is open. One writer at a time (a send runs on
    // a thread of its own): texts of two threads never mix. Throws
    // CFileIOerror (errno, strerror text) when writing or flushing fails; the
    // text may then be partly in the file.
    void Write(const char* text);

    // Whether a file is open (logging is on).
    bool IsOpen() const { return m_fp != nullptr; }

    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

private:
    explicit CLogFile(FILE* fp) : m_fp(fp) {}
    FILE* m_fp;
    std::mutex m_writeLock;
};

// Writes text to the run's log: CLogFile::GetInstance(nullptr)->Write(text),
// the one call every part of the program logs through. Throws what Write
// throws.
void WriteLog(const std::string& text);
