// Station.txt and MailFormat.txt as their user saved them: code page 932 as
// ever, or UTF-8 (with or without a mark) or UTF-16 as Notepad saves them
// (base/TextFile.h), read as code page 932 text. A code page 932 file reads
// exactly as ReadTextFile always read it.
#pragma once

#include <cstddef>

#include <string>

#include "afx/afx.h"
#include "base/TextFile.h"
#include "mail/SmtpMailer.h"

enum class UserTextRead {
    kRead,
    kUnreadable,  // the file cannot be opened or read
    kUnmappable,  // a line holds a character with no code page 932 form
};

// Reads the file at path into text (emptied first) and says in which
// encoding it was saved; for kUnmappable, *badLine is the 1-based line.
// Owns nothing it is given; throws only std::bad_alloc.
UserTextRead ReadUserText(const wchar_t* path, CString& text, text::Encoding* encoding, size_t* badLine);

// Station.txt at path into text; false after a box that says why not
// ("チャンネル設定ファイルを読み込めません", or the line with a character
// that has no code page 932 form).
bool ReadStationText(const wchar_t* path, CString& text);

// MailFormat.txt at path into format, and into options whether its mail
// goes out in UTF-8 (a template saved as Unicode whose Content-Type says
// UTF-8); false after a box that says why not.
bool ReadMailFormat(const wchar_t* path, std::string& format, MailerOptions& options);
