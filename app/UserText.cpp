#include "app/UserText.h"

#include <string>

#include "app/ProgramFiles.h"
#include "app/Warning.h"
#include "mail/TemplateCharset.h"
#include "platform/platform.h"

UserTextRead ReadUserText(const wchar_t* path, CString& text, text::Encoding* encoding, size_t* badLine) {
    *encoding = text::Encoding::kCp932;
    *badLine = 0;
    if (!ReadTextFile(path, text)) return UserTextRead::kUnreadable;
    std::string raw;
    if (!plat::ReadWholeFile(Utf8(path), &raw)) return UserTextRead::kUnreadable;
    text::Lines lines;
    *badLine = text::ReadLines(raw, &lines);
    if (*badLine != 0) {
        text.Empty();
        return UserTextRead::kUnmappable;
    }
    *encoding = lines.encoding;
    // A code page 932 file keeps the text read as it always was.
    if (lines.encoding != text::Encoding::kCp932) {
        const std::string joined = text::JoinText(lines);
        text = CString(joined.data(), static_cast<int>(joined.size()));
    }
    return UserTextRead::kRead;
}

namespace {

// Reads the user's file fileName at path into text; false after the box
// that says why: unreadable (that text) or a line that is not text.
bool ReadOwnFile(const wchar_t* path, const char* fileName, const char* unreadable, CString& text,
                 text::Encoding* encoding) {
    size_t badLine = 0;
    switch (ReadUserText(path, text, encoding, &badLine)) {
    case UserTextRead::kRead:
        return true;
    case UserTextRead::kUnreadable:
        ShowWarning(unreadable);
        return false;
    case UserTextRead::kUnmappable:
        break;
    }
    ShowWarning(text::UnmappableText(fileName, badLine).c_str());
    return false;
}

}  // namespace

bool ReadStationText(const wchar_t* path, CString& text) {
    text::Encoding encoding = text::Encoding::kCp932;
    return ReadOwnFile(path, "Station.txt", "チャンネル設定ファイルを読み込めません", text, &encoding);
}

bool ReadMailFormat(const wchar_t* path, std::string& format, MailerOptions& options) {
    CString text;
    text::Encoding encoding = text::Encoding::kCp932;
    if (!ReadOwnFile(path, "MailFormat.txt", "メールフォーマットファイルを読み込めません", text, &encoding)) return false;
    format = text.str();
    // A code page 932 template goes as it always went, whatever it says.
    options.utf8Message = encoding != text::Encoding::kCp932 && mail::TemplateNamesUtf8(format);
    return true;
}
