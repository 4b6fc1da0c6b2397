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

// Whether the variable's words include word.
bool Holds(const char* variable, const char* word) {
    const char* words = std::getenv(variable);
    return words != nullptr && std::strstr(words, word) != nullptr;
}

}  // namespace

bool SchannelRefusesSchCredentials() { return Holds(kSchannelVariable, "no-sch-credentials"); }

bool SchannelAsksClientCertificate() { return Holds(kSchannelVariable, "incomplete-credentials"); }

bool ClassesRootRefused() { return std::getenv(kRefuseClassesRootVariable) != nullptr; }

}  // namespace seam
}  // namespace plat
