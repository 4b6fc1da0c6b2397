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

bool ReadStationText(const wchar_t* path, CString& text) {
    text::Encoding encoding = text::Encoding::kCp932;
    size_t badLine = 0;
    switch (ReadUserText(path, text, &encoding, &badLine)) {
    case UserTextRead::kRead:
        return true;
    case UserTextRead::kUnreadable:
        ShowWarning("チャンネル設定ファイルを読み込めません");
        return false;
    case UserTextRead::kUnmappable:
        break;
    }
    ShowWarning(text::UnmappableText("Station.txt", badLine).c_str());
    return false;
}

bool ReadMailFormat(const wchar_t* path, std::string& format, MailerOptions& options) {
    CString text;
    text::Encoding encoding = text::Encoding::kCp932;
    size_t badLine = 0;
    switch (ReadUserText(path, text, &encoding, &badLine)) {
    case UserTextRead::kRead:
        format = text.str();
        // A code page 932 template goes as it always went, whatever it says.
        options.utf8Message = encoding != text::Encoding::kCp932 && mail::TemplateNamesUtf8(format);
        return true;
    case UserTextRead::kUnreadable:
        ShowWarning("メールフォーマットファイルを読み込めません");
        return false;
    case UserTextRead::kUnmappable:
        break;
    }
    ShowWarning(text::UnmappableText("MailFormat.txt", badLine).c_str());
    return false;
}
