// Robot tool for tests that need a stored password as the program keeps it:
//
//   --tool protect TEXT FILE     writes TEXT protected for the current user
//                                (the program's own function) as
//                                hexadecimal digits to FILE
//   --tool unprotect HEX FILE    writes the clear text of the stored password
//                                HEX to FILE (exit code 1 when it does not
//                                decrypt)
#include <cstdio>

#include "Robot.h"
#include "mail/Password.h"

ROBOT_TOOL(protect, "TEXT FILE - write TEXT as a stored password") {
    if (args.size() < 2) return 2;
    std::string hex;
    if (!ProtectPassword(ToUtf8(args[0]), &hex)) return 1;
    FILE* fp = ::_wfopen(args[1].c_str(), L"wb");
    if (fp == nullptr) return 1;
    const bool written = std::fwrite(hex.data(), 1, hex.size(), fp) == hex.size();
    return std::fclose(fp) == 0 && written ? 0 : 1;
}

ROBOT_TOOL(unprotect, "HEX FILE - write the clear text of a stored password") {
    if (args.size() < 2) return 2;
    std::string clear;
    if (!UnprotectPassword(ToUtf8(args[0]), &clear)) return 1;
    FILE* fp = ::_wfopen(args[1].c_str(), L"wb");
    if (fp == nullptr) return 1;
    const bool written = std::fwrite(clear.data(), 1, clear.size(), fp) == clear.size();
    return std::fclose(fp) == 0 && written ? 0 : 1;
}
