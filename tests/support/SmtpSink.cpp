#include "tests/support/SmtpSink.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "tests/support/LogCapture.h"

namespace SmtpSink {

std::string Directory() {
    const char* dir = std::getenv("QUORPA_SMTP_SINK_DIR");
    return dir ? dir : "";
}

uint16_t Port(const std::string& name) {
    const std::string dir = Directory();
    if (dir.empty()) return 0;
    std::ifstream ports(dir + "/ports");
    std::string line;
    while (std::getline(ports, line)) {
        std::istringstream fields(line);
        std::string server;
        unsigned port = 0;
        if (fields >> server >> port && server == name) return static_cast<uint16_t>(port);
    }
    return 0;
}

std::string WaitForDumpIn(const std::string& folder, const std::string& token, uint32_t timeoutMs) {
    if (folder.empty()) return "";
    // The server may still be writing the file when its reply has come.
    constexpr uint32_t kPollMs = 50;
    for (uint32_t waited = 0; waited <= timeoutMs; waited += kPollMs) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            const std::string text = ReadWholeFile(entry.path().string());
            // A finished dump ends with the empty line after the message.
            if (text.find(token) != std::string::npos && text.size() >= 2 &&
                text.compare(text.size() - 2, 2, "\n\n") == 0) {
                return text;
            }
        }
        plat::SleepMs(kPollMs);
    }
    return "";
}

std::string WaitForDump(const std::string& token, uint32_t timeoutMs) {
    const std::string dir = Directory();
    return dir.empty() ? "" : WaitForDumpIn(dir + "/dump", token, timeoutMs);
}

}  // namespace SmtpSink
