#include "tests/support/SubmitServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "tests/support/LogCapture.h"

namespace SubmitServer {

std::string Directory() {
    const char* dir = std::getenv("QUORPA_SUBMIT_DIR");
    return dir ? dir : "";
}

std::string Value(const std::string& key) {
    const std::string dir = Directory();
    if (dir.empty()) return "";
    std::ifstream env(dir + "/env");
    std::string line;
    while (std::getline(env, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    }
    return "";
}

uint16_t Port(const std::string& key) { return static_cast<uint16_t>(std::atoi(Value(key).c_str())); }

std::string WaitForMail(const std::string& token, uint32_t timeoutMs) {
    std::string sink = Value("SUBMIT_SINK_DIR");
    if (sink.empty()) return "";
    // The env file names Linux paths; a Windows test reaches them through
    // the drive the fixture's own directory came on.
    const std::string dir = Directory();
    if (dir.size() > 2 && dir[1] == ':' && sink[0] == '/') sink = dir.substr(0, 2) + sink;
    constexpr uint32_t kPollMs = 50;
    for (uint32_t waited = 0; waited <= timeoutMs; waited += kPollMs) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(sink, error)) {
            const std::string text = ReadWholeFile(entry.path().string());
            if (text.find(token) != std::string::npos && text.size() >= 2 &&
                text.compare(text.size() - 2, 2, "\n\n") == 0)
                return text;
        }
        plat::SleepMs(kPollMs);
    }
    return "";
}

}  // namespace SubmitServer
