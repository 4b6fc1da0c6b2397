// The framework's entry point for a GUI-subsystem executable: the one
// application object (a global, constructed before this runs) does the whole
// run in InitInstance. The program has no message loop, so whatever
// InitInstance returns, the process then ends.
#include <exception>

#include "afx/afx.h"
#include "platform/libraries.h"

namespace {
// Exit codes of the process.
constexpr int kExitDone = 0;           // InitInstance returned
constexpr int kExitNoApplication = 1;  // no application object was linked in
constexpr int kExitAborted = 3;        // an exception left InitInstance
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything can load a library: none from the executable's folder.
    plat::ConfineLibrarySearch();
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return kExitNoApplication;
    // An exception that leaves the start-up (a log file that cannot be
    // created or written) ends the run here, in order: the stack is unwound,
    // static objects are destroyed and no crash dialog appears. The run has
    // nothing more to do and nobody to tell, so the exit code is the report.
    try {
        app->InitInstance();
    } catch (...) {
        return kExitAborted;
    }
    return kExitDone;
}
