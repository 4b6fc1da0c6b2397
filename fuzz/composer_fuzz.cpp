// libFuzzer target for the mail composer: any title and station, in a set of
// templates whose header fields are checked value by value, or in any
// template at all. For every input the finished message passes CheckData;
// with the set's templates the header lines stay within their lengths and
// each field gives back the value's bytes (MailChecks.h).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/MailChecks.h"
#include "mail/MailAccount.h"
#include "mail/MailComposer.h"

namespace {

struct Field {
    const char* name;
    bool title;  // else the station
    const char* suffix;
};

const struct {
    const char* format;
    Field fields[2];
} kTemplates[] = {
    {"Subject: %titl%\r\nX-Station: %stat%\r\n\r\n%titl%|%stat%\r\n.\r\n",
     {{"Subject", true, ""}, {"X-Station", false, ""}}},
    {"From: <%from%>\nSubject: %titl% ch%chno%\n\n.%titl%\n%stat%", {{"Subject", true, " ch8"}, {}}},
    {"X-A-Very-Long-Header-Name-That-Pushes-The-Value-Far-Right: %stat%\r\n\r\n%titl%",
     {{"X-A-Very-Long-Header-Name-That-Pushes-The-Value-Far-Right", false, ""}, {}}},
    {"Subject: %titl%\r", {{"Subject", true, ""}, {}}},
    {"Message-Id: <%msid%>\r\nSubject: [%stat%] %titl% %titl%\r\n\r\n%stat%%msid%%titl%\r\n", {{}, {}}},
};
constexpr int kTemplateCount = sizeof kTemplates / sizeof kTemplates[0];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "Asia/Tokyo", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int choice = input.ConsumeIntegralInRange(0, kTemplateCount);  // kTemplateCount: the input's own
    std::string title = input.ConsumeRandomLengthString(1 << 16);
    const std::string station = input.ConsumeRandomLengthString(1 << 16);
    // Now and then a title far beyond the cut.
    if (input.ConsumeBool() && !title.empty()) {
        while (title.size() < 70000) title += title;
    }
    const std::string format =
        choice == kTemplateCount ? input.ConsumeRemainingBytesAsString() : kTemplates[choice].format;

    MailAccount account;
    account.sender = "rec@example.jp";
    account.recipient = "to@example.jp";
    account.address = 0x0100007f;
    tm start{};
    start.tm_year = 104;
    start.tm_mday = 5;
    const ComposedBody body = ComposeBody(format, account, {start, start, 8, title, station}, 0);
    const std::string message = FinishMessage(body, account, start, 0x0200a8c0);
    mailcheck::CheckData(message);
    if (choice == kTemplateCount) return 0;
    mailcheck::CheckHeaderLines(message);
    for (const Field& field : kTemplates[choice].fields) {
        if (field.name == nullptr) continue;
        const std::string value = mailcheck::CutValue(field.title ? title : station);
        mailcheck::Require(mailcheck::FieldValue(message, field.name, field.suffix) == value,
                           "a field does not give back its value");
    }
    return 0;
}
