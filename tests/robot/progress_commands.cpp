// Commands for the program's progress window during a send (a window of
// class kProgressClass, no dialog box):
//
//   progress [FILE]   wait for the progress window; record its title and the
//                     texts of its controls, top to bottom, whether it holds
//                     the foreground (it must not), its controls' rectangles
//                     in its client area and where that lies in the window:
//                       {"progress":"Quorpa","texts":["...",...],"active":false,
//                        "controls":[[id,l,t,r,b],..],"client":[x,y],"ms":N}
//                     with FILE also save its picture as a BMP file
//   stopsend          press its 中止 button (IDCANCEL, posted) and wait until
//                     the window has gone: {"stopped":true,"ms":N,"gone_ms":M}
//   pause MS          let MS milliseconds pass (the window's clock runs on)
//   notice HEADING [close] [FILE]   the notice of a sent reservation (below)
//   progressdpi N     tell the progress window its scale changed to N dots
//                     per inch (WM_DPICHANGED, below)
#include <cstdlib>

#include "Robot.h"

namespace {

HWND g_progress = nullptr;

BOOL CALLBACK CollectText(HWND control, LPARAM param) {
    auto* texts = reinterpret_cast<std::string*>(param);
    *texts += std::string(texts->empty() ? "" : ",") + JsonString(WindowTextUtf8(control));
    return TRUE;
}

}  // namespace

ROBOT_COMMAND(progress, "[FILE] - wait for the progress window, record its texts (and save its picture)") {
    g_progress = robot.WaitForWindow([](HWND window) { return ClassName(window) == kProgressClass; });
    if (g_progress == nullptr) return robot.Fail("no progress window came");
    const DWORD seen = robot.Elapsed();
    if (words.size() >= 2) {
        int width = 0, height = 0;
        if (!SaveWindowPicture(robot, g_progress, words[1], width, height))
            return robot.Fail("progress: cannot write " + words[1]);
    }
    std::string texts;
    ::EnumChildWindows(g_progress, CollectText, reinterpret_cast<LPARAM>(&texts));
    const bool active = ::GetForegroundWindow() == g_progress;
    RECT frame{};
    POINT client{0, 0};
    ::GetWindowRect(g_progress, &frame);
    ::ClientToScreen(g_progress, &client);
    robot.Record("\"progress\":" + JsonString(WindowTextUtf8(g_progress)) + ",\"texts\":[" + texts +
                 "],\"active\":" + (active ? "true" : "false") + ",\"controls\":" + ControlRectsJson(g_progress) +
                 ",\"client\":[" + std::to_string(client.x - frame.left) + "," + std::to_string(client.y - frame.top) +
                 "],\"ms\":" + std::to_string(seen));
    return true;
}

ROBOT_COMMAND(stopsend, "- press the progress window's stop button and wait until it has gone") {
    if (g_progress == nullptr || !::IsWindow(g_progress)) return robot.Fail("stopsend: no progress window");
    const DWORD pressed = robot.Elapsed();
    ::PostMessageW(g_progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(g_progress, IDCANCEL)));
    if (!robot.WaitForClose(g_progress)) return robot.Fail("the progress window stayed after stopsend");
    robot.Record("\"stopped\":true,\"ms\":" + std::to_string(pressed) + ",\"gone_ms\":" +
                 std::to_string(robot.Elapsed()));
    g_progress = nullptr;
    return true;
}

ROBOT_COMMAND(pause, "MS - let MS milliseconds pass") {
    if (words.size() < 2) return robot.Fail("pause: missing milliseconds");
    ::Sleep(static_cast<DWORD>(std::strtoul(words[1].c_str(), nullptr, 10)));
    return true;
}

// notice HEADING [close] [FILE]: wait for the progress window to show
// HEADING (its notice of a sent reservation), record its texts and whether
// it holds the foreground (with FILE also save its picture as a BMP file);
// with "close" press its button; then wait until it has gone:
//   {"notice":"Quorpa","texts":[...],"active":false,"ms":N,"gone_ms":M}
ROBOT_COMMAND(notice, "HEADING [close] [FILE] - wait for the progress window's notice, record it, wait until it has gone") {
    if (words.size() < 2) return robot.Fail("notice: missing heading");
    const std::string heading = words[1];
    HWND window = robot.WaitForWindow([&](HWND w) {
        return ClassName(w) == kProgressClass && WindowTextUtf8(::GetDlgItem(w, 100)) == heading;
    });
    if (window == nullptr) return robot.Fail("no notice came");
    const DWORD seen = robot.Elapsed();
    std::string texts;
    ::EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&texts));
    const bool active = ::GetForegroundWindow() == window;
    const std::string title = WindowTextUtf8(window);
    bool close = false;
    for (size_t i = 2; i < words.size(); ++i) {
        int width = 0, height = 0;
        if (words[i] == "close")
            close = true;
        else if (!SaveWindowPicture(robot, window, words[i], width, height))
            return robot.Fail("notice: cannot write " + words[i]);
    }
    if (close)
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(window, IDCANCEL)));
    if (!robot.WaitForClose(window)) return robot.Fail("the notice stayed");
    robot.Record("\"notice\":" + JsonString(title) + ",\"texts\":[" + texts + "],\"active\":" +
                 (active ? "true" : "false") + ",\"ms\":" + std::to_string(seen) +
                 ",\"gone_ms\":" + std::to_string(robot.Elapsed()));
    return true;
}

// progressdpi N: WM_DPICHANGED to the progress window (SendDpiChanged),
// then its rectangle and its controls' ones in its client area:
//   {"dpi":N,"suggested":[l,t,r,b],"rect":[l,t,r,b],"controls":[[id,l,t,r,b],..]}
ROBOT_COMMAND(progressdpi, "N - tell the progress window its scale changed to N dots per inch") {
    if (words.size() < 2) return robot.Fail("progressdpi: missing dots per inch");
    if (g_progress == nullptr || !::IsWindow(g_progress)) return robot.Fail("progressdpi: no progress window");
    return SendDpiChanged(robot, g_progress, std::atoi(words[1].c_str()));
}
