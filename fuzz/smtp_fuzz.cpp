// libFuzzer target for the SMTP reply reader. The first byte chooses how the
// rest is cut into received pieces; they are joined as the mailer joins
// them, under a small cap, until a reply is complete. Besides the
// sanitizers' checks: the joined text is the pieces up to their zero bytes,
// the cap holds, a reply is complete exactly when a final line has arrived,
// and capabilities do not depend on CR before LF.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <string>

#include "mail/Base64.h"
#include "mail/SmtpReply.h"

namespace {

constexpr size_t kCap = 512;  // small, so that the cap is reached often

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "mismatch: %s\n", what);
        std::abort();
    }
}

bool SameCapabilities(const smtp::Capabilities& a, const smtp::Capabilities& b) {
    return a.serverName == b.serverName && a.startTls == b.startTls && a.authPlain == b.authPlain &&
           a.authLogin == b.authLogin;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t pieceSize = data[0] % 16 + 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;

    std::string reply;
    std::string expected;
    bool complete = false;
    for (size_t at = 0; at < length && !complete; at += pieceSize) {
        const size_t n = length - at < pieceSize ? length - at : pieceSize;
        const size_t before = reply.size();
        if (!smtp::AppendPiece(reply, text + at, n, kCap)) {
            Check(reply.size() == before, "a refused piece changes nothing");
            const size_t keep = strnlen(text + at, n);
            Check(before + keep > kCap, "refused below the cap");
            break;
        }
        expected.append(text + at, strnlen(text + at, n));
        Check(reply == expected, "pieces joined up to their zero bytes");
        Check(reply.size() <= kCap, "cap");
        complete = smtp::ReplyComplete(reply);
    }
    // Complete exactly when some line (with its line feed) is not "ddd-".
    bool final = false;
    for (size_t begin = 0, lf; !final && (lf = reply.find('\n', begin)) != std::string::npos; begin = lf + 1) {
        const bool continuation = lf - begin >= 4 && std::isdigit(static_cast<unsigned char>(reply[begin])) &&
                                  std::isdigit(static_cast<unsigned char>(reply[begin + 1])) &&
                                  std::isdigit(static_cast<unsigned char>(reply[begin + 2])) && reply[begin + 3] == '-';
        final = !continuation;
    }
    Check(final == smtp::ReplyComplete(reply), "completeness");

    const smtp::Capabilities caps = smtp::ParseCapabilities(reply);
    std::string bare;
    for (size_t i = 0; i < reply.size(); ++i) {
        if (!(reply[i] == '\r' && i + 1 < reply.size() && reply[i + 1] == '\n')) bare += reply[i];
    }
    Check(SameCapabilities(caps, smtp::ParseCapabilities(bare)), "CR before LF changes nothing");
    smtp::Base64(reply);
    return 0;
}
