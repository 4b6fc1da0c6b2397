#include "app/UserText.h"

#include <string>

#include "app/ProgramFiles.h"
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
