#include "tests/support/SubmissionServer.h"

#include <cstdlib>
#include <fstream>

#include "tests/support/SmtpSink.h"

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
    return SmtpSink::WaitForDumpIn(Path("SUBMIT_SINK_DIR"), token, timeoutMs);
}

}  // namespace SubmissionServer
