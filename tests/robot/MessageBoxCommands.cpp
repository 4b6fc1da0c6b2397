// Message-box commands: wait for the program's next message box, record its
// title, text, icon and buttons, and press a button.
//
//   ok | yes | no | cancel   press that button (it must exist)
//   close                    close the box as Escape would (IDCANCEL)
//
// The icon cannot be read from another process's handle, so the robot draws
// the system icons itself and compares them with the pixels of the box's
// icon control on the screen.
#include <cstring>

#include "Robot.h"

namespace {

struct ButtonName {
    int id;
    const char* name;
};
constexpr ButtonName kButtons[] = {
    {IDOK, "ok"},   {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
    {IDIGNORE, "ignore"}, {IDYES, "yes"}, {IDNO, "no"},
};

// The icon control of a message box: 1088 under Wine, 20 under Windows.
constexpr int kIconControlIds[] = {1088, 20};

struct IconKind {
    LPCSTR resource;
    const char* name;
    unsigned flag;
};
const IconKind kIcons[] = {
    {IDI_HAND, "error", MB_ICONHAND},
    {IDI_QUESTION, "question", MB_ICONQUESTION},
    {IDI_EXCLAMATION, "exclamation", MB_ICONEXCLAMATION},
    {IDI_ASTERISK, "information", MB_ICONASTERISK},
};

// Share of pixels that may differ between the screen and a reference icon
// (edges blended with another background), in per cent.
constexpr int kIconTolerancePercent = 10;
// How long the robot waits for the box to be painted before it decides
// that it shows no icon.
constexpr DWORD kPaintWaitMs = 1500;

using Pixels = std::vector<COLORREF>;

// Pixels of rect (screen coordinates), or of a width x height picture that
// draw paints onto a background of colour fill.
Pixels Capture(int width, int height, const RECT* rect, HICON icon, COLORREF fill) {
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    if (rect != nullptr) {
        ::BitBlt(memory, 0, 0, width, height, screen, rect->left, rect->top, SRCCOPY);
    } else {
        HBRUSH brush = ::CreateSolidBrush(fill);
        RECT all{0, 0, width, height};
        ::FillRect(memory, &all, brush);
        ::DeleteObject(brush);
        ::DrawIcon(memory, 0, 0, icon);
    }
    Pixels pixels;
    pixels.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(::GetPixel(memory, x, y));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

size_t Differences(const Pixels& a, const Pixels& b) {
    size_t count = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) count += a[i] != b[i];
    return count;
}

// "none", a name of kIcons, or "unknown"; flag gets the MB_ICON* value.
std::string DetectIcon(HWND box, const Robot& robot, unsigned& flag) {
    flag = 0;
    HWND control = nullptr;
    for (int id : kIconControlIds)
        if ((control = ::GetDlgItem(box, id)) != nullptr) break;
    if (control == nullptr || !::IsWindowVisible(control)) return "none";
    int width = ::GetSystemMetrics(SM_CXICON), height = ::GetSystemMetrics(SM_CYICON);
    // The box goes to the screen's top left corner, above every other
    // window: no other program's window (another test's dialog in the middle
    // of the screen) covers the icon while it is read, and the box covers
    // none of theirs.
    ::SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    RECT rect;
    ::GetWindowRect(control, &rect);
    if (rect.right - rect.left < width || rect.bottom - rect.top < height) return "none";
    DWORD start = robot.Elapsed();
    for (;;) {
        ::RedrawWindow(control, nullptr, nullptr, RDW_UPDATENOW);
        Pixels shown = Capture(width, height, &rect, nullptr, 0);
        COLORREF background = shown[0];  // the icons' corners are transparent
        const IconKind* best = nullptr;
        size_t bestDiff = shown.size();
        for (const IconKind& kind : kIcons) {
            Pixels reference =
                Capture(width, height, nullptr, ::LoadIconA(nullptr, kind.resource), background);
            size_t diff = Differences(shown, reference);
            if (diff < bestDiff) bestDiff = diff, best = &kind;
        }
        if (best != nullptr && bestDiff * 100 <= shown.size() * kIconTolerancePercent) {
            flag = best->flag;
            return best->name;
        }
        bool blank = true;
        for (COLORREF pixel : shown) blank = blank && pixel == background;
        if (robot.Elapsed() - start >= kPaintWaitMs) return blank ? "none" : "unknown";
        ::Sleep(50);
    }
}

// The MB_* button-set flag for the visible buttons, or -1 for a set that no
// flag gives.
int ButtonFlag(const std::vector<std::string>& names) {
    auto is = [&](std::initializer_list<const char*> set) {
        if (set.size() != names.size()) return false;
        size_t i = 0;
        for (const char* name : set)
            if (names[i++] != name) return false;
        return true;
    };
    if (is({"ok"})) return MB_OK;
    if (is({"ok", "cancel"})) return MB_OKCANCEL;
    if (is({"abort", "retry", "ignore"})) return MB_ABORTRETRYIGNORE;
    if (is({"cancel", "yes", "no"})) return MB_YESNOCANCEL;
    if (is({"yes", "no"})) return MB_YESNO;
    if (is({"cancel", "retry"})) return MB_RETRYCANCEL;
    return -1;
}

bool Answer(Robot& robot, const std::string& answer) {
    HWND box = robot.WaitForWindow(IsMessageBox);
    if (box == nullptr)
        return robot.Fail("no message box came for \"" + answer + "\"" +
                          (robot.ProcessEnded() ? " (the program ended)" : " (time-out)"));
    DWORD seen = robot.Elapsed();

    std::vector<std::string> names;
    std::string buttons;
    int pressId = answer == "close" ? IDCANCEL : 0;
    HWND pressButton = nullptr;
    std::string defaultName;  // the button Enter presses
    for (const ButtonName& button : kButtons) {
        HWND control = ::GetDlgItem(box, button.id);
        if (control == nullptr || !::IsWindowVisible(control)) continue;
        names.push_back(button.name);
        if ((::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) defaultName = button.name;
        buttons += std::string(buttons.empty() ? "" : ",") + JsonString(button.name);
        if (answer == button.name) pressId = button.id, pressButton = control;
    }
    unsigned iconFlag = 0;
    std::string icon = DetectIcon(box, robot, iconFlag);
    int buttonFlag = ButtonFlag(names);
    std::string flags =
        (buttonFlag < 0 || icon == "unknown") ? "null" : std::to_string(buttonFlag | iconFlag);

    std::string record = "\"box\":" + std::to_string(robot.NextBoxNumber()) +
                         ",\"title\":" + JsonString(WindowTextUtf8(box)) +
                         ",\"text\":" + JsonString(WindowTextUtf8(::GetDlgItem(box, 0xFFFF))) +
                         ",\"icon\":" + JsonString(icon) + ",\"buttons\":[" + buttons +
                         "],\"default\":" + JsonString(defaultName) + ",\"flags\":" + flags +
                         ",\"answer\":" + JsonString(answer) +
                         ",\"ms\":" + std::to_string(seen);
    if (pressId == 0) {
        robot.Record(record);
        return robot.Fail("the box has no button \"" + answer + "\"");
    }
    DWORD answered = robot.Elapsed();
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(pressId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(pressButton));
    robot.Record(record + ",\"answered_ms\":" + std::to_string(answered));
    if (!robot.WaitForClose(box)) return robot.Fail("the box did not close after \"" + answer + "\"");
    return true;
}

}  // namespace

ROBOT_COMMAND(ok, "- press OK on the next message box") { return Answer(robot, "ok"); }
ROBOT_COMMAND(yes, "- press Yes on the next message box") { return Answer(robot, "yes"); }
ROBOT_COMMAND(no, "- press No on the next message box") { return Answer(robot, "no"); }
ROBOT_COMMAND(cancel, "- press Cancel on the next message box") { return Answer(robot, "cancel"); }
ROBOT_COMMAND(close, "- close the next message box as Escape does") { return Answer(robot, "close"); }
