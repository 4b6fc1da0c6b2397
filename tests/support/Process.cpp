#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
const char kRoleVariable[] = "QUORPA_TEST_ROLE";
}

int RunProgram(const std::vector<std::string>& command) {
    ChildProcess child(command);
    return child.Wait();
}

std::string GetEnvVar(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? value : "";
}

std::string FreshProcessRole() { return GetEnvVar(kRoleVariable); }

int RunInFreshProcess(const std::string& role,
                      const std::vector<std::pair<std::string, std::string>>& env) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    SetEnvVar(kRoleVariable, role);
    for (const auto& variable : env) SetEnvVar(variable.first, variable.second);
    const int code = RunProgram({ThisProgramPath(), filter});
    // Later children of this process start without them again.
    SetEnvVar(kRoleVariable, "");
    for (const auto& variable : env) SetEnvVar(variable.first, "");
    return code;
}
