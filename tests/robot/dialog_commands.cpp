// Dialog commands of the robot: find one of the program's dialogs (not a
// message box) by its title, type into its edit controls, read them back,
// press its buttons, send it system commands and see where the focus is.
//
//   dialog TITLE        wait for the dialog titled TITLE; later commands act on it
//   type ID TEXT        empty edit control ID, then type TEXT one character at
//                       a time (WM_CHAR), so the control's length limit applies
//   settext ID TEXT     set the control's text directly (no length limit)
//   paste ID TEXT       replace edit ID's selection with TEXT as a paste
//                       does (EM_REPLACESEL, undoable)
//   read ID             record the control's text
//   waittext ID TEXT    wait until the control reads TEXT, and record when
//   enabled             record the ids of the enabled controls
//   focus [ID]          record the id of the control that has the focus (when
//                       ID is given, after waiting for it to get there, up to
//                       the time-out), and an edit's selection
//   controls            record every child control: id, class and text
//   click ID            press button ID (posted: the robot goes on while the
//                       program handles it, e.g. shows a prompt)
//   check ID            click radio button or check box ID as the mouse would
//                       and wait until the program has handled it
//   syscommand N        choose system-menu command N (decimal or 0x hex)
//   gone                wait until the dialog has closed
//   ready               wait until the dialog takes input again (enabled and
//                       answering): after a button whose work disables it
//   shot FILE           save the dialog as it shows on the screen (frame
//                       included) as a 24-bit BMP file
//   module NAME         record the path the program loaded module NAME from
//                       (comctl32.dll: the manifest's Common Controls v6
//                       come from winsxs), "" when it has none
//   listrows ID         record the rows of list view ID, each as its texts
//                       column by column, and the indexes of the selected
//                       ones: {"list":ID,"rows":[["..",..],..],"selected":[0]}
//   listselect ID [N..] select exactly rows N.. of list view ID (none when
//                       no N is given) and wait until the program has
//                       handled it
//   columns ID          record the widths of list view ID's columns:
//                       {"columns":ID,"widths":[..]}
//   dpi N               tell the dialog its scale changed to N dots per inch
//                       (SendDpiChanged in Robot.h)
//
// And helper tools for the registry of the prefix (keys below
// HKEY_CLASSES_ROOT, "" is the root itself; a key written "HKCU:KEY" lies
// below HKEY_CURRENT_USER\Software\Classes instead, the per-user place;
// "HKLM:KEY" below HKEY_LOCAL_MACHINE and "USER:KEY" below
// HKEY_CURRENT_USER, for the program's capabilities):
//
//   --tool regdump OUT KEY...    write each key's values to OUT, one JSON
//                                object a line: key, name, type, size, data
//                                (text for strings, hex for the rest), or
//                                {"key":..,"missing":true}
//   --tool regdelete KEY...      delete the keys with everything below them
//   --tool regcreate KEY         create KEY (non-volatile)
//   --tool regvolatile KEY       create KEY as a volatile key (gone when the
//                                wineserver stops; no non-volatile key can
//                                be created below it)
//   --tool regset KEY NAME TEXT  set string value NAME ("" the default) of
//                                KEY, creating the key
//   --tool regunset KEY NAME     delete value NAME of KEY (gone already: fine)
#include <cstdio>
#include <algorithm>
#include <cstdlib>

#include "Robot.h"

#include <commctrl.h>
#include <tlhelp32.h>

namespace {

// The dialog the commands act on (one robot drives one program).
HWND g_dialog = nullptr;
std::string g_title;

// How long "shot" lets the program paint after it has answered.
constexpr DWORD kPaintSettleMs = 300;

bool NeedDialog(Robot& robot, const std::string& command) {
    if (g_dialog != nullptr && ::IsWindow(g_dialog)) return true;
    return robot.Fail(command + ": no dialog (use \"dialog TITLE\" first)");
}

bool ControlOf(Robot& robot, const std::vector<std::string>& words, size_t minWords, HWND& control,
               int& id) {
    if (words.size() < minWords) return robot.Fail(words[0] + ": missing arguments");
    if (!NeedDialog(robot, words[0])) return false;
    id = std::atoi(words[1].c_str());
    control = ::GetDlgItem(g_dialog, id);
    if (control == nullptr) return robot.Fail(words[0] + ": the dialog has no control " + words[1]);
    return true;
}

std::string Ms(const Robot& robot) { return ",\"ms\":" + std::to_string(robot.Elapsed()); }

}  // namespace

ROBOT_COMMAND(dialog, "TITLE - wait for the dialog titled TITLE and act on it") {
    if (words.size() < 2) return robot.Fail("dialog: missing title");
    const std::string title = words[1];
    HWND found = robot.WaitForWindow([&](HWND window) {
        return ClassName(window) == "#32770" && window != g_dialog &&
               ::GetDlgItem(window, 1088) == nullptr &&  // a message box's icon
               WindowTextUtf8(window) == title;
    });
    if (found == nullptr) return robot.Fail("no dialog \"" + title + "\" came");
    g_dialog = found;
    g_title = title;
    robot.Record("\"dialog\":" + JsonString(title) + Ms(robot));
    return true;
}

ROBOT_COMMAND(type, "ID TEXT - empty edit ID and type TEXT into it") {
    HWND control = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, control, id)) return false;
    ::SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    const std::wstring text = FromUtf8(words.size() > 2 ? words[2] : "");
    for (wchar_t c : text) ::SendMessageW(control, WM_CHAR, c, 1);
    return true;
}

ROBOT_COMMAND(settext, "ID TEXT - set the control's text directly") {
    HWND control = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, control, id)) return false;
    const std::wstring text = FromUtf8(words.size() > 2 ? words[2] : "");
    ::SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return true;
}

ROBOT_COMMAND(paste, "ID TEXT - replace edit ID's selection with TEXT as a paste does") {
    HWND control = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, control, id)) return false;
    const std::wstring text = FromUtf8(words.size() > 2 ? words[2] : "");
    ::SendMessageW(control, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
    return true;
}

ROBOT_COMMAND(read, "ID - record the control's text") {
    HWND control = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, control, id)) return false;
    robot.Record("\"control\":" + std::to_string(id) +
                 ",\"text\":" + JsonString(WindowTextUtf8(control)) + Ms(robot));
    return true;
}

ROBOT_COMMAND(waittext, "ID TEXT - wait until the control reads TEXT") {
    HWND control = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 3, control, id)) return false;
    const DWORD start = ::GetTickCount();
    while (WindowTextUtf8(control) != words[2]) {
        if (::GetTickCount() - start >= robot.TimeoutMs())
            return robot.Fail("waittext: control " + words[1] + " never read \"" + words[2] + "\"");
        ::Sleep(10);
    }
    robot.Record("\"waited\":" + std::to_string(id) + ",\"reads\":" + JsonString(words[2]) + Ms(robot));
    return true;
}

ROBOT_COMMAND(enabled, "- record the ids of the enabled controls") {
    if (!NeedDialog(robot, "enabled")) return false;
    std::string ids;
    for (HWND child = ::GetWindow(g_dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        if (::IsWindowEnabled(child))
            ids += std::string(ids.empty() ? "" : ",") + std::to_string(static_cast<int>(::GetDlgCtrlID(child)));
    robot.Record("\"enabled\":[" + ids + "]" + Ms(robot));
    return true;
}

ROBOT_COMMAND(focus, "[ID] - record the id of the control with the focus") {
    if (!NeedDialog(robot, "focus")) return false;
    // The program moves the focus after its prompt has closed, by a posted
    // message, while the system may first restore it to where it was: wait
    // until the program is back in its dialog loop, and when the script says
    // which control it expects, wait (up to the robot's time-out, which a
    // loaded machine may need) for the focus to land there. Without an
    // expected control, wait for any control of the dialog to have it.
    //
    // Wine's X11 driver, with no window manager, now and then hands the
    // foreground to the desktop window after a box closes: it handles the X
    // server's late focus-out for the dialog at a moment when X has put its
    // input focus on the root window (the box's window is gone, the dialog's
    // not yet focused), and takes that as the user having left for another
    // program. Windows has no such moment. The dialog then keeps the focus
    // it had as its saved focus, and the user would click it back: the robot
    // does the same (only when the desktop holds the foreground, so a program
    // that gives its foreground away itself is still seen) and reads where
    // the dialog puts the focus on being activated again.
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(g_dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, robot.TimeoutMs(), &ignored);
    const int expected = words.size() > 1 ? std::atoi(words[1].c_str()) : 0;
    const DWORD thread = ::GetWindowThreadProcessId(g_dialog, nullptr);
    const DWORD start = ::GetTickCount();
    int id = 0;
    GUITHREADINFO info{};
    for (;;) {
        info = GUITHREADINFO{};
        info.cbSize = sizeof info;
        id = 0;
        if (::GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr &&
            ::GetParent(info.hwndFocus) == g_dialog)
            id = ::GetDlgCtrlID(info.hwndFocus);
        if ((expected == 0 && id != 0) || (expected != 0 && id == expected)) break;
        if (::GetTickCount() - start >= robot.TimeoutMs()) break;
        if (info.hwndActive == nullptr && ::GetForegroundWindow() == ::GetDesktopWindow())
            ::SetForegroundWindow(g_dialog);
        ::Sleep(10);
    }
    // An edit's selection too: a prompt's control gets its whole text selected.
    std::string selection;
    if (id != 0 && ClassName(info.hwndFocus) == "Edit") {
        // The result's words carry the range; pointers would not cross into
        // the other process.
        const auto range = static_cast<DWORD>(::SendMessageW(info.hwndFocus, EM_GETSEL, 0, 0));
        selection = ",\"selection\":[" + std::to_string(LOWORD(range)) + "," +
                    std::to_string(HIWORD(range)) + "]";
    }
    robot.Record("\"focus\":" + std::to_string(id) + selection + Ms(robot));
    return true;
}

ROBOT_COMMAND(controls, "- record every control: id, class, text") {
    if (!NeedDialog(robot, "controls")) return false;
    std::string list;
    for (HWND child = ::GetWindow(g_dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        list += std::string(list.empty() ? "" : ",") + "{\"id\":" +
                std::to_string(static_cast<int>(::GetDlgCtrlID(child))) +
                ",\"class\":" + JsonString(ClassName(child)) +
                ",\"text\":" + JsonString(WindowTextUtf8(child)) + "}";
    }
    robot.Record("\"controls\":[" + list + "]" + Ms(robot));
    return true;
}

ROBOT_COMMAND(click, "ID - press button ID") {
    HWND control = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, control, id)) return false;
    ::PostMessageW(g_dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(control));
    return true;
}

ROBOT_COMMAND(check, "ID - click radio button or check box ID as the mouse would") {
    HWND control = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, control, id)) return false;
    // BM_CLICK changes the button's state and notifies the dialog, as a
    // click does; a BN_CLICKED sent to the dialog alone would not. Sent, so
    // that the next command sees its effect.
    DWORD_PTR ignored = 0;
    if (::SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, robot.TimeoutMs(), &ignored) == 0)
        return robot.Fail("check: the program did not handle the click");
    return true;
}

ROBOT_COMMAND(syscommand, "N - choose system-menu command N") {
    if (words.size() < 2) return robot.Fail("syscommand: missing command");
    if (!NeedDialog(robot, "syscommand")) return false;
    const auto command = static_cast<WPARAM>(std::strtoul(words[1].c_str(), nullptr, 0));
    ::PostMessageW(g_dialog, WM_SYSCOMMAND, command, 0);
    return true;
}

ROBOT_COMMAND(gone, "- wait until the dialog has closed") {
    if (g_dialog == nullptr) return robot.Fail("gone: no dialog");
    if (!robot.WaitForClose(g_dialog)) return robot.Fail("the dialog \"" + g_title + "\" stayed open");
    robot.Record("\"closed\":" + JsonString(g_title) + Ms(robot));
    g_dialog = nullptr;
    return true;
}

ROBOT_COMMAND(ready, "- wait until the dialog is enabled and answers") {
    if (!NeedDialog(robot, "ready")) return false;
    const DWORD start = ::GetTickCount();
    DWORD_PTR ignored = 0;
    for (;;) {
        if (::IsWindowEnabled(g_dialog) &&
            ::SendMessageTimeoutW(g_dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, robot.TimeoutMs(), &ignored) != 0 &&
            ::IsWindowEnabled(g_dialog))
            break;
        if (::GetTickCount() - start >= robot.TimeoutMs())
            return robot.Fail("the dialog \"" + g_title + "\" stayed disabled");
        robot.WatchProgress();
        ::Sleep(10);
    }
    robot.Record("\"ready\":" + JsonString(g_title) + Ms(robot));
    return true;
}

ROBOT_COMMAND(shot, "FILE - save the dialog's picture as a BMP file") {
    if (words.size() < 2) return robot.Fail("shot: missing file");
    if (!NeedDialog(robot, "shot")) return false;
    int width = 0, height = 0;
    if (!SaveWindowPicture(robot, g_dialog, words[1], width, height))
        return robot.Fail("shot: cannot write " + words[1]);
    robot.Record("\"shot\":" + JsonString(words[1]) + ",\"width\":" + std::to_string(width) +
                 ",\"height\":" + std::to_string(height) + Ms(robot));
    return true;
}

ROBOT_COMMAND(columns, "ID - record the widths of list view ID's columns") {
    HWND list = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, list, id)) return false;
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int count = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    std::string widths;
    for (int i = 0; i < count; ++i)
        widths += (i ? "," : "") + std::to_string(::SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0));
    robot.Record("\"columns\":" + std::to_string(id) + ",\"widths\":[" + widths + "]" + Ms(robot));
    return true;
}

ROBOT_COMMAND(dpi, "N - tell the dialog its scale changed to N dots per inch") {
    if (words.size() < 2) return robot.Fail("dpi: missing dots per inch");
    if (!NeedDialog(robot, words[0])) return false;
    return SendDpiChanged(robot, g_dialog, std::atoi(words[1].c_str()));
}

namespace {
std::string RectJson(const RECT& r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + "]";
}

BOOL CALLBACK CollectRect(HWND control, LPARAM param) {
    // Enumeration reaches the controls' own children too: only the window's are listed.
    auto* out = reinterpret_cast<std::pair<HWND, std::string>*>(param);
    if (::GetParent(control) != out->first) return TRUE;
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, out->first, reinterpret_cast<POINT*>(&r), 2);
    const std::string item = "[" + std::to_string(::GetDlgCtrlID(control)) + "," + RectJson(r).substr(1);
    out->second += (out->second.empty() ? "" : ",") + item;
    return TRUE;
}
}  // namespace

bool SendDpiChanged(Robot& robot, HWND window, int dpi) {
    RECT now{};
    ::GetWindowRect(window, &now);
    const RECT suggested{now.left, now.top, now.left + ::MulDiv(now.right - now.left, dpi, 96),
                         now.top + ::MulDiv(now.bottom - now.top, dpi, 96)};
    // The suggestion lives in the program's memory, where its handler reads
    // it; and at the same address here too, should the system copy it over.
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, robot.Pid());
    if (process == nullptr) return robot.Fail("dpi: cannot open the program's process");
    void* remote = ::VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    SIZE_T written = 0;
    if (remote == nullptr || !::WriteProcessMemory(process, remote, &suggested, sizeof suggested, &written)) {
        ::CloseHandle(process);
        return robot.Fail("dpi: cannot write the suggestion into the program");
    }
    void* local = ::VirtualAlloc(remote, sizeof suggested, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (local == remote) *static_cast<RECT*>(local) = suggested;
    DWORD_PTR result = 0;
    const bool answered = ::SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                                                reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG,
                                                robot.TimeoutMs(), &result) != 0;
    if (local != nullptr) ::VirtualFree(local, 0, MEM_RELEASE);
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    if (!answered) return robot.Fail("dpi: the window did not answer WM_DPICHANGED");
    RECT rect{};
    ::GetWindowRect(window, &rect);
    robot.Record("\"dpi\":" + std::to_string(dpi) + ",\"suggested\":" + RectJson(suggested) + ",\"rect\":" +
                 RectJson(rect) + ",\"controls\":" + ControlRectsJson(window) + Ms(robot));
    return true;
}

std::string ControlRectsJson(HWND window) {
    std::pair<HWND, std::string> controls{window, ""};
    ::EnumChildWindows(window, CollectRect, reinterpret_cast<LPARAM>(&controls));
    return "[" + controls.second + "]";
}

bool SaveWindowPicture(const Robot& robot, HWND window, const std::string& path, int& width, int& height) {
    // Let the program finish painting before the picture is taken.
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, robot.TimeoutMs(), &ignored);
    ::Sleep(kPaintSettleMs);
    RECT rect;
    ::GetWindowRect(window, &rect);
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;

    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as BMP files store it
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = ::_wfopen(FromUtf8(path).c_str(), L"wb");
    if (out == nullptr) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);
    return true;
}

ROBOT_COMMAND(module, "NAME - record the path of the program's module NAME") {
    if (words.size() < 2) return robot.Fail("module: missing name");
    const std::wstring name = FromUtf8(words[1]);
    std::wstring path;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, robot.Pid());
    if (snapshot == INVALID_HANDLE_VALUE) return robot.Fail("module: no module list");
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Module32FirstW(snapshot, &entry); more; more = ::Module32NextW(snapshot, &entry))
        if (::lstrcmpiW(entry.szModule, name.c_str()) == 0) path = entry.szExePath;
    ::CloseHandle(snapshot);
    robot.Record("\"module\":" + JsonString(words[1]) + ",\"path\":" + JsonString(ToUtf8(path)) +
                 Ms(robot));
    return true;
}

// ---- list views ------------------------------------------------------------------

namespace {

// Memory in the program's process: a list view's messages carry pointers,
// which the system does not carry across processes.
class RemoteBuffer {
public:
    RemoteBuffer(DWORD pid, size_t size)
        : m_process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid)),
          m_size(size) {
        if (m_process != nullptr)
            m_address = ::VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (m_address != nullptr) ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
        if (m_process != nullptr) ::CloseHandle(m_process);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool Ok() const { return m_address != nullptr; }
    // The address of offset in the program's process.
    LPARAM At(size_t offset) const { return reinterpret_cast<LPARAM>(static_cast<char*>(m_address) + offset); }
    bool Write(const void* data, size_t size, size_t offset = 0) {
        return ::WriteProcessMemory(m_process, static_cast<char*>(m_address) + offset, data, size, nullptr) != 0;
    }
    bool Read(void* data, size_t size, size_t offset = 0) const {
        return ::ReadProcessMemory(m_process, static_cast<char*>(m_address) + offset, data, size, nullptr) != 0;
    }

private:
    HANDLE m_process;
    void* m_address = nullptr;
    size_t m_size;
};

constexpr int kMaxCellChars = 1024;

// Sends a message to the program's control and waits for its answer.
LRESULT Ask(const Robot& robot, HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutW(control, message, wParam, lParam, SMTO_ABORTIFHUNG, robot.TimeoutMs(), &answer);
    return static_cast<LRESULT>(answer);
}

}  // namespace

ROBOT_COMMAND(listrows, "ID - record the rows of list view ID and which are selected") {
    HWND list = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, list, id)) return false;
    RemoteBuffer remote(robot.Pid(), sizeof(LVITEMW) + kMaxCellChars * sizeof(wchar_t));
    if (!remote.Ok()) return robot.Fail("listrows: no memory in the program");
    const int count = static_cast<int>(Ask(robot, list, LVM_GETITEMCOUNT, 0, 0));
    HWND header = reinterpret_cast<HWND>(Ask(robot, list, LVM_GETHEADER, 0, 0));
    const int columns = header != nullptr ? static_cast<int>(Ask(robot, header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    std::string rows, selected;
    for (int row = 0; row < count; ++row) {
        std::string cells;
        for (int column = 0; column < columns; ++column) {
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = reinterpret_cast<LPWSTR>(remote.At(sizeof item));
            item.cchTextMax = kMaxCellChars;
            wchar_t text[kMaxCellChars] = L"";
            if (!remote.Write(&item, sizeof item)) return robot.Fail("listrows: cannot reach the program");
            const auto length = static_cast<size_t>(Ask(robot, list, LVM_GETITEMTEXTW, row, remote.At(0)));
            remote.Read(text, sizeof text, sizeof item);
            cells += std::string(cells.empty() ? "" : ",") +
                     JsonString(ToUtf8(std::wstring(text, std::min<size_t>(length, kMaxCellChars - 1))));
        }
        rows += std::string(rows.empty() ? "[" : ",[") + cells + "]";
        if (Ask(robot, list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED)
            selected += (selected.empty() ? "" : ",") + std::to_string(row);
    }
    robot.Record("\"list\":" + std::to_string(id) + ",\"rows\":[" + rows + "],\"selected\":[" + selected + "]" +
                 Ms(robot));
    return true;
}

ROBOT_COMMAND(listselect, "ID [N...] - select exactly rows N... of list view ID") {
    HWND list = nullptr;
    int id = 0;
    if (!ControlOf(robot, words, 2, list, id)) return false;
    RemoteBuffer remote(robot.Pid(), sizeof(LVITEMW));
    if (!remote.Ok()) return robot.Fail("listselect: no memory in the program");
    const int count = static_cast<int>(Ask(robot, list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<bool> wanted(static_cast<size_t>(count), false);
    for (size_t i = 2; i < words.size(); ++i) {
        const int row = std::atoi(words[i].c_str());
        if (row < 0 || row >= count) return robot.Fail("listselect: the list has no row " + words[i]);
        wanted[static_cast<size_t>(row)] = true;
    }
    for (int row = 0; row < count; ++row) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        item.state = wanted[static_cast<size_t>(row)] ? LVIS_SELECTED : 0;
        if (!remote.Write(&item, sizeof item)) return robot.Fail("listselect: cannot reach the program");
        Ask(robot, list, LVM_SETITEMSTATE, row, remote.At(0));
    }
    return true;
}

// ---- registry tools -----------------------------------------------------------

namespace {

// The root a tool's key name lies below, with the name made relative to it.
HKEY RootOf(std::wstring& name) {
    const std::wstring user = L"HKCU:", machine = L"HKLM:", userRoot = L"USER:";
    if (name.compare(0, machine.size(), machine) == 0) {
        name = name.substr(machine.size());
        return HKEY_LOCAL_MACHINE;
    }
    if (name.compare(0, userRoot.size(), userRoot) == 0) {
        name = name.substr(userRoot.size());
        return HKEY_CURRENT_USER;
    }
    if (name.compare(0, user.size(), user) != 0) return HKEY_CLASSES_ROOT;
    name = L"Software\\Classes\\" + name.substr(user.size());
    return HKEY_CURRENT_USER;
}

std::string Hex(const BYTE* data, DWORD size) {
    std::string out;
    char byte[4];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
    }
    return out;
}

void DumpKey(FILE* out, const std::wstring& name) {
    const std::string key = JsonString(ToUtf8(name));
    HKEY handle = nullptr;
    std::wstring relative = name;
    HKEY root = RootOf(relative);
    if (::RegOpenKeyExW(root, relative.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        std::fprintf(out, "{\"key\":%s,\"missing\":true}\n", key.c_str());
        return;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[16384];
        DWORD nameLength = 16384;
        DWORD type = 0;
        BYTE data[65536];
        DWORD size = sizeof data;
        if (::RegEnumValueW(handle, index, valueName, &nameLength, nullptr, &type, data, &size) !=
            ERROR_SUCCESS)
            break;
        // Read the value again through the ANSI call: that is the size the
        // program wrote (bytes of code page 932 text with its terminator).
        const std::string ansiName = [&] {
            int n = ::WideCharToMultiByte(CP_ACP, 0, valueName, -1, nullptr, 0, nullptr, nullptr);
            std::string s(static_cast<size_t>(n), '\0');
            ::WideCharToMultiByte(CP_ACP, 0, valueName, -1, &s[0], n, nullptr, nullptr);
            s.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
            return s;
        }();
        BYTE ansi[65536];
        DWORD ansiSize = sizeof ansi;
        ::RegQueryValueExA(handle, ansiName.c_str(), nullptr, nullptr, ansi, &ansiSize);
        std::string text;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            text = JsonString(ToUtf8(std::wstring(reinterpret_cast<wchar_t*>(data),
                                                  ::wcsnlen(reinterpret_cast<wchar_t*>(data),
                                                            size / sizeof(wchar_t)))));
        else
            text = JsonString(Hex(data, size));
        std::fprintf(out, "{\"key\":%s,\"name\":%s,\"type\":%lu,\"size\":%lu,\"data\":%s}\n",
                     key.c_str(), JsonString(ToUtf8(std::wstring(valueName, nameLength))).c_str(),
                     type, ansiSize, text.c_str());
    }
    ::RegCloseKey(handle);
}

}  // namespace

ROBOT_TOOL(regdump, "OUT KEY... - write the values of keys (HKCU:KEY: per-user)") {
    if (args.empty()) return 2;
    FILE* out = ::_wfopen(args[0].c_str(), L"wb");
    if (out == nullptr) return 1;
    for (size_t i = 1; i < args.size(); ++i) DumpKey(out, args[i]);
    std::fclose(out);
    return 0;
}

ROBOT_TOOL(regdelete, "KEY... - delete keys below HKEY_CLASSES_ROOT with their subkeys") {
    int failed = 0;
    for (std::wstring key : args) {
        HKEY root = RootOf(key);
        const LSTATUS status = ::RegDeleteTreeW(root, key.c_str());
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
            ::RegDeleteKeyW(root, key.c_str());
            continue;
        }
        failed = 1;
    }
    return failed;
}

namespace {
int CreateKey(std::wstring name, DWORD options, const wchar_t* value = nullptr,
              const wchar_t* text = nullptr) {
    HKEY key = nullptr;
    HKEY root = RootOf(name);
    if (::RegCreateKeyExW(root, name.c_str(), 0, nullptr, options, KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return 1;
    LSTATUS status = ERROR_SUCCESS;
    if (text != nullptr)
        status = ::RegSetValueExW(key, *value ? value : nullptr, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(text),
                                  static_cast<DWORD>((::wcslen(text) + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : 1;
}
}  // namespace

ROBOT_TOOL(regcreate, "KEY - create a key below HKEY_CLASSES_ROOT") {
    return args.size() == 1 ? CreateKey(args[0], REG_OPTION_NON_VOLATILE) : 2;
}

ROBOT_TOOL(regvolatile, "KEY - create a volatile key below HKEY_CLASSES_ROOT") {
    return args.size() == 1 ? CreateKey(args[0], REG_OPTION_VOLATILE) : 2;
}

ROBOT_TOOL(regset, "KEY NAME TEXT - set a string value of a key below HKEY_CLASSES_ROOT") {
    return args.size() == 3 ? CreateKey(args[0], REG_OPTION_NON_VOLATILE, args[1].c_str(),
                                        args[2].c_str())
                            : 2;
}

ROBOT_TOOL(regunset, "KEY NAME - delete a value of a key below HKEY_CLASSES_ROOT") {
    if (args.size() != 2) return 2;
    std::wstring key = args[0];
    HKEY root = RootOf(key);
    HKEY handle = nullptr;
    LSTATUS status = ::RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &handle);
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) return 1;
    status = ::RegDeleteValueW(handle, args[1].c_str());
    ::RegCloseKey(handle);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? 0 : 1;
}
