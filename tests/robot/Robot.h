// The UI robot: a small Win32 program that runs beside the program under
// test (under Wine), starts it itself, drives its windows as a script says
// and writes what it saw to a transcript.
//
// Usage:
//   robot.exe [--timeout-ms N] [--open] SCRIPT TRANSCRIPT PROGRAM [ARGS...]
//       Starts PROGRAM with ARGS (CreateProcess: the exact process id and
//       its exit code), or with --open has the shell open the document
//       PROGRAM as a browser does (ShellExecuteEx, verb "open": the process
//       of the program registered for it; none is an error), runs the
//       script's commands in order, then waits for
//       the program to end. Every window the robot looks at belongs to that
//       process. A message box that appears when no command expects one is
//       recorded as "unexpected" and closed (IDCANCEL). The robot's exit code
//       is the program's, or kRobotFailed when the script could not be
//       carried out (a window that never came, a button that is missing, a
//       program that did not end): the transcript then ends with an "error"
//       record. N (default 20000) bounds each wait, in milliseconds.
//   robot.exe --tool NAME [ARGS...]
//       Runs one helper tool and returns its result; see ROBOT_TOOL below
//       (mklink: makes a .lnk shortcut; mark: leaves a mark file; trustca,
//       untrustca, trusted: the test CA in this Wine prefix's Root store).
//
// Script: one command per line, words separated by blanks; a word may be
// quoted with "..." to hold blanks. Blank lines and lines starting with '#'
// are ignored. The script file is UTF-8.
//
// Transcript: UTF-8, one JSON object per line, in the order of events:
//   {"box":1,"title":"Quorpa","text":"...","icon":"exclamation",
//    "buttons":["ok"],"default":"ok","flags":48,"answer":"ok","ms":412,"answered_ms":415}
//   ("default": the button Enter presses, "" when none is marked)
//   ... one object per window a command handled ...
//   {"exit":0,"ms":980}
// or, when the script failed, {"error":"..."} before the exit record. "ms"
// counts milliseconds from the start of the program; the time fields serve
// measurements and are never compared by tests.
//
// Extending: any .cpp file in tests/robot/ can add commands with
// ROBOT_COMMAND (they register themselves before the robot's main runs);
// the file is built into the robot automatically. A command gets the Robot
// (the process under test, the waits, the transcript) and its words.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

// The robot's exit code when the script could not be carried out.
constexpr int kRobotFailed = 200;

class Robot {
public:
    Robot(HANDLE process, DWORD pid, DWORD timeoutMs, FILE* transcript);

    DWORD Pid() const { return m_pid; }
    DWORD TimeoutMs() const { return m_timeoutMs; }
    // Milliseconds since the program was started.
    DWORD Elapsed() const;
    bool ProcessEnded() const;

    // Waits (up to the time-out, polling) for a visible top-level window of
    // the process that match accepts; returns it, or null when the time-out
    // runs out or the process ends first.
    HWND WaitForWindow(const std::function<bool(HWND)>& match);
    // Waits until window is gone (or the process ended). False on time-out.
    bool WaitForClose(HWND window);
    // Records the first sight of a progress window (kProgressClass) of the
    // process; called at every poll of the waits.
    void WatchProgress();

    // Writes one transcript record; fields is the inside of a JSON object
    // ("\"a\":1,\"b\":\"x\""). Flushed at once.
    void Record(const std::string& fields);
    // Records an error and makes the run fail; returns false so a command
    // can `return robot.Fail("...")`.
    bool Fail(const std::string& what);
    bool Failed() const { return m_failed; }

    // Next message-box number for the "box" field.
    int NextBoxNumber() { return ++m_boxes; }

private:
    HANDLE m_process;
    DWORD m_pid;
    DWORD m_timeoutMs;
    DWORD m_startTick;
    FILE* m_transcript;
    bool m_failed = false;
    int m_boxes = 0;
    bool m_progressSeen = false;
};

// ---- helpers for commands -------------------------------------------------

// JSON string literal (quotes included) of UTF-8 text.
std::string JsonString(const std::string& utf8);
// The window's class name (ASCII).
std::string ClassName(HWND window);
// The window's text as UTF-8, asked of the owning process (WM_GETTEXT).
std::string WindowTextUtf8(HWND window);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
// Whether window is a message box: a dialog (#32770) holding the message
// text static (id 0xFFFF).
bool IsMessageBox(HWND window);
// Saves window as it shows on the screen (frame included) to path (UTF-8)
// as a 24-bit BMP file, after letting the program paint; width and height
// get its size. False when the file cannot be written.
bool SaveWindowPicture(const Robot& robot, HWND window, const std::string& path, int& width, int& height);

// Tells window (of the program) that its scale changed to dpi dots per
// inch, as the system does when it moves to another monitor: WM_DPICHANGED
// with the window's rectangle grown by dpi / 96 (the robot's windows start
// at 96) as the suggestion, in the program's memory. Then records
//   {"dpi":N,"suggested":[l,t,r,b],"rect":[l,t,r,b],"controls":[[id,l,t,r,b],..]}
// (the controls in the window's client area). False after robot.Fail.
bool SendDpiChanged(Robot& robot, HWND window, int dpi);
// The rectangles of window's controls in its client area, as JSON:
// [[id,left,top,right,bottom],..].
std::string ControlRectsJson(HWND window);

// The class of the program's progress window during a send. The robot
// watches for it whenever it waits, and records the first time it saw one:
//   {"progress_seen":true,"ms":N}
constexpr char kProgressClass[] = "QuorpaProgress";

// ---- command table --------------------------------------------------------

// A script command: words[0] is the command's name. Returns false when it
// could not be carried out (after robot.Fail).
using RobotCommand = bool (*)(Robot& robot, const std::vector<std::string>& words);
// A helper tool (robot.exe --tool NAME ...): args exclude the name. Returns
// the process exit code.
using RobotTool = int (*)(const std::vector<std::wstring>& args);

bool RegisterRobotCommand(const char* name, RobotCommand command, const char* usage);
bool RegisterRobotTool(const char* name, RobotTool tool, const char* usage);

// ROBOT_COMMAND(name, "usage") { ... robot, words ... return true; }
#define ROBOT_COMMAND(name, usage)                                                        \
    static bool RobotCommand_##name(Robot& robot, const std::vector<std::string>& words); \
    static const bool robotRegistered_##name =                                            \
        RegisterRobotCommand(#name, RobotCommand_##name, usage);                          \
    static bool RobotCommand_##name([[maybe_unused]] Robot& robot,                        \
                                    [[maybe_unused]] const std::vector<std::string>& words)

// ROBOT_TOOL(name, "usage") { ... args ... return 0; }
#define ROBOT_TOOL(name, usage)                                                                \
    static int RobotTool_##name(const std::vector<std::wstring>& args);                       \
    static const bool robotToolRegistered_##name = RegisterRobotTool(#name, RobotTool_##name, \
                                                                     usage);                  \
    static int RobotTool_##name([[maybe_unused]] const std::vector<std::wstring>& args)
