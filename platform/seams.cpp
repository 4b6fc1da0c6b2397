// The test seams (seams.h): the program's only reads of the environment.
#include "platform/seams.h"

#include <cstdlib>
#include <cstring>

namespace plat {
namespace seam {

namespace {

// The variables, each named once: scripts/release takes this list as the
// names the executable may hold.
constexpr const char* kSchannelVariable = "QUORPA_TEST_SCHANNEL";
constexpr const char* kRefuseClassesRootVariable = "QUORPA_TEST_REFUSE_CLASSES_ROOT";
constexpr const char* kWindowsBuildVariable = "QUORPA_TEST_WINDOWS_BUILD";

// Whether the variable's words include word.
bool Holds(const char* variable, const char* word) {
    const char* words = std::getenv(variable);
    return words != nullptr && std::strstr(words, word) != nullptr;
}

}  // namespace

bool SchannelRefusesSchCredentials() { return Holds(kSchannelVariable, "no-sch-credentials"); }

bool SchannelAsksClientCertificate() { return Holds(kSchannelVariable, "incomplete-credentials"); }

bool SchannelSplitsTicket() { return Holds(kSchannelVariable, "split-ticket"); }

bool SchannelWithholdsReplayDetection() { return Holds(kSchannelVariable, "no-replay-detect"); }

unsigned long WindowsBuild() {
    const char* text = std::getenv(kWindowsBuildVariable);
    return text != nullptr ? std::strtoul(text, nullptr, 10) : 0;
}

bool ClassesRootRefused() { return std::getenv(kRefuseClassesRootVariable) != nullptr; }

}  // namespace seam
}  // namespace plat
