#include "tests/support/SubmissionServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "tests/support/LogCapture.h"

namespace SubmissionServer {

std::string Directory() {
    const char* dir = std::getenv("QUORPA_SUBMISSION_DIR");
    return dir ? dir : "";
}

std::string Value(const std::string& key) {
    const std::string dir = Directory();
    if (dir.empty()) return "";
    std::ifstream env(dir + "/env");
    std::string line;
    while (std::getline(env, line)) {
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    }
    return "";
}

std::string Path(const std::string& key) {
    const std::string value = Value(key);
    const bool underWine = Directory().compare(0, 2, "Z:") == 0;
    return underWine && !value.empty() && value[0] == '/' ? "Z:" + value : value;
}

uint16_t Port(const std::string& name) {
    return static_cast<uint16_t>(std::atoi(Value("SUBMIT_PORT_" + name).c_str()));
}

std::string WaitForDump(const std::string& token, uint32_t timeoutMs) {
    const std::string dir = Path("SUBMIT_SINK_DIR");
    if (dir.empty()) return "";
    // The mail passes the relay's queue before the sink writes it.
    constexpr uint32_t kPollMs = 50;
    for (uint32_t waited = 0; waited <= timeoutMs; waited += kPollMs) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
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

}  // namespace SubmissionServer
