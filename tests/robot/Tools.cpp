// Helper tools of the robot, for tests that need Windows-made files:
//
//   --tool mklink LNK TARGET [ARGS...]   writes a shell shortcut LNK that runs
//                                        TARGET with ARGS (IShellLink)
//   --tool mark FILE [TEXT]              writes TEXT (default "mark") and the
//                                        writer's process id to FILE: a
//                                        program a shortcut can start to
//                                        leave a trace
#include <cstdio>

#include <objbase.h>
#include <shlobj.h>

#include "Robot.h"

ROBOT_TOOL(mklink, "LNK TARGET [ARGS...] - write a shortcut") {
    if (args.size() < 2) return 2;
    std::wstring arguments;
    for (size_t i = 2; i < args.size(); ++i) arguments += (i > 2 ? L" " : L"") + args[i];

    if (FAILED(::CoInitialize(nullptr))) return 1;
    int result = 1;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->SetPath(args[1].c_str())) &&
            SUCCEEDED(link->SetArguments(arguments.c_str())) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            if (SUCCEEDED(file->Save(args[0].c_str(), TRUE))) result = 0;
            file->Release();
        }
        link->Release();
    }
    ::CoUninitialize();
    return result;
}

ROBOT_TOOL(mark, "FILE [TEXT] - leave a mark file") {
    if (args.empty()) return 2;
    FILE* fp = ::_wfopen(args[0].c_str(), L"ab");
    if (fp == nullptr) return 1;
    std::string text = args.size() > 1 ? ToUtf8(args[1]) : "mark";
    std::fprintf(fp, "%s %lu\n", text.c_str(), ::GetCurrentProcessId());
    std::fclose(fp);
    return 0;
}
