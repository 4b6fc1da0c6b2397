#include "app/ProgressWindow.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "afx/win32/MessagePump.h"
#include "afx/win32/Program.h"
#include "afx/win32/Text.h"
#include "mail/SendProgress.h"
#include "mail/SmtpMailer.h"
#include "res/resource.h"
#include "reserve/ReserveTimes.h"

namespace {

constexpr wchar_t kClassName[] = L"QuorpaProgress";
// A send that ends within this time shows no window: no flicker for a fast
// server, and a slow one is visibly at work soon enough.
constexpr DWORD kShowDelayMs = 300;
// How long the notice of a sent reservation stays unless closed.
constexpr DWORD kNoticeMs = 3000;
// How often the step and the seconds shown are brought up to date.
constexpr UINT kRefreshMs = 200;
constexpr UINT_PTR kRefreshTimer = 1;

// The font of the program's dialogs (res/Quorpa.rc).
constexpr char kFontFace[] = "ＭＳ Ｐゴシック";
constexpr int kFontPoints = 9;

// The texts, top to bottom; the button is IDCANCEL.
enum ControlId { kIdHeading = 100, kIdServer, kIdStep, kIdElapsed };

// Layout in dialog units, as the resource script's dialogs are laid out.
struct Box {
    int x, y, cx, cy;
};
constexpr int kClientWidth = 200;
constexpr int kClientHeight = 72;
constexpr Box kTextBoxes[] = {{7, 7, 186, 9}, {7, 20, 186, 9}, {7, 33, 186, 9}, {7, 46, 120, 9}};
constexpr Box kButtonBox = {143, 51, 50, 14};

// The step, and for one of several mails which it is ("(1/2)").
std::string StepText(SendStep step, int attempt, bool stopping, int place, int count) {
    if (stopping) return "中止しています";
    if (count > 1) {
        return StepText(step, attempt, false, 0, 0) + " (" + std::to_string(place) + "/" + std::to_string(count) + ")";
    }
    char text[64];
    switch (step) {
    case SendStep::kConnecting:
        std::snprintf(text, sizeof text, "サーバに接続しています(%d回目)", attempt);
        return text;
    case SendStep::kEncrypting:
        return "暗号化しています";
    case SendStep::kSigningIn:
        return "認証しています";
    case SendStep::kSending:
        return "送信しています";
    case SendStep::kDone:
        return "送信が完了しました";
    }
    return "";
}

// The window and its state; lives on the UI thread's stack for one send.
class ProgressWindow {
public:
    // place (not owned; null for a single mail) is which of count mails goes out.
    ProgressWindow(CSmtpMailer& mailer, const StepWatch& watch, const char* server, unsigned port,
                   const std::atomic<int>* place = nullptr, int count = 1)
        : m_mailer(mailer), m_watch(watch), m_server(server), m_port(port), m_started(::GetTickCount()),
          m_place(place), m_count(count) {}
    ~ProgressWindow() {
        if (m_hwnd != nullptr) ::DestroyWindow(m_hwnd);
        if (m_font != nullptr) ::DeleteObject(m_font);
    }
    // WM_DPICHANGED's font and layout for dpi, in the rectangle the system suggests.
    void OnDpiChanged(int dpi, const RECT& suggested);
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    DWORD Elapsed() const { return ::GetTickCount() - m_started; }
    bool Tried() const { return m_tried; }

    // Creates and shows the window without activating it: the boxes that
    // follow keep the focus, and the window never becomes their owner. A
    // window that cannot be made is done without; the send goes on.
    void Show();
    // Turns the window into the notice of a sent reservation (lines under
    // the heading); its button and close box then close it.
    void ShowNotice(const std::string& programme, const std::string& times);
    bool Open() const { return m_hwnd != nullptr; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND AddControl(const wchar_t* className, const char* text, DWORD style, const Box& box, int id);
    // Makes the font for dpi (the old one is the caller's to delete, once
    // no control uses it) and takes its dialog base units.
    HFONT MakeFont(int dpi);
    // Puts every control in its box in the current base units, with the font.
    void PlaceControls();
    void Refresh();
    void Stop();

    CSmtpMailer& m_mailer;
    const StepWatch& m_watch;
    std::string m_server;
    unsigned m_port;
    DWORD m_started;
    const std::atomic<int>* m_place;
    int m_count;
    bool m_tried = false;
    bool m_stopping = false;
    bool m_notice = false;
    HWND m_hwnd = nullptr;
    HFONT m_font = nullptr;
    int m_baseX = 0, m_baseY = 0;  // dialog base units of the font
    std::vector<std::pair<HWND, Box>> m_controls;
    std::string m_shownStep;
    DWORD m_shownSeconds = ~0u;
};

void ProgressWindow::Show() {
    m_tried = true;
    // A Unicode window: its texts are shown as code page 932 whatever the
    // process code page (Windows 10 ignores the manifest's activeCodePage).
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    ::RegisterClassW(&wc);  // fails harmlessly when a former send registered it

    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    m_font = MakeFont(dpi);

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_NOACTIVATE | WS_EX_TOPMOST | WS_EX_APPWINDOW;
    RECT frame{0, 0, ::MulDiv(kClientWidth, m_baseX, 4), ::MulDiv(kClientHeight, m_baseY, 8)};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int heightPx = frame.bottom - frame.top;
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    m_hwnd = ::CreateWindowExW(exStyle, kClassName, AfxProgramTitle().c_str(), style,
                               work.left + (work.right - work.left - width) / 2,
                               work.top + (work.bottom - work.top - heightPx) / 2, width, heightPx, nullptr,
                               nullptr, instance, this);
    if (m_hwnd == nullptr) return;

    char server[512];
    std::snprintf(server, sizeof server, "サーバ: %s (ポート %u)", m_server.c_str(), m_port);
    const char* texts[] = {"予約メールを送信しています", server, "", ""};
    // A text too long for its line (a long server name) ends in an ellipsis.
    for (int i = 0; i < 4; ++i)
        AddControl(L"STATIC", texts[i], SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, kTextBoxes[i], kIdHeading + i);
    AddControl(L"BUTTON", "中止", BS_PUSHBUTTON | WS_TABSTOP, kButtonBox, IDCANCEL);
    Refresh();
    ::SetTimer(m_hwnd, kRefreshTimer, kRefreshMs, nullptr);
    ::ShowWindow(m_hwnd, SW_SHOWNOACTIVATE);
    ::UpdateWindow(m_hwnd);
}

void ProgressWindow::ShowNotice(const std::string& programme, const std::string& times) {
    if (m_hwnd == nullptr) return;
    m_notice = true;
    ::KillTimer(m_hwnd, kRefreshTimer);
    AfxSetDlgItemText(m_hwnd, kIdHeading, "予約メールを送信しました");
    AfxSetDlgItemText(m_hwnd, kIdServer, programme.c_str());
    AfxSetDlgItemText(m_hwnd, kIdStep, times.c_str());
    AfxSetDlgItemText(m_hwnd, kIdElapsed, "");
    AfxSetDlgItemText(m_hwnd, IDCANCEL, "閉じる");
    ::EnableWindow(::GetDlgItem(m_hwnd, IDCANCEL), TRUE);
}

HWND ProgressWindow::AddControl(const wchar_t* className, const char* text, DWORD style, const Box& box,
                                int id) {
    HWND control = ::CreateWindowExW(0, className, AfxWide(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                                     ::MulDiv(box.x, m_baseX, 4), ::MulDiv(box.y, m_baseY, 8),
                                     ::MulDiv(box.cx, m_baseX, 4), ::MulDiv(box.cy, m_baseY, 8), m_hwnd,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (control != nullptr && m_font != nullptr)
        ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    if (control != nullptr) m_controls.emplace_back(control, box);
    return control;
}

HFONT ProgressWindow::MakeFont(int dpi) {
    HFONT font = ::CreateFontW(-::MulDiv(kFontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                               SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, AfxWide(kFontFace).c_str());
    HDC screen = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(screen, font != nullptr ? font : ::GetStockObject(DEFAULT_GUI_FONT));
    // Dialog base units as Windows derives them from a dialog's font.
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(screen, &metrics);
    SIZE letters{};
    const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    ::GetTextExtentPoint32A(screen, kAlphabet, 52, &letters);
    m_baseX = (letters.cx / 26 + 1) / 2;
    m_baseY = metrics.tmHeight;
    ::SelectObject(screen, old);
    ::ReleaseDC(nullptr, screen);
    return font;
}

void ProgressWindow::PlaceControls() {
    for (const auto& [control, box] : m_controls) {
        ::MoveWindow(control, ::MulDiv(box.x, m_baseX, 4), ::MulDiv(box.y, m_baseY, 8), ::MulDiv(box.cx, m_baseX, 4),
                     ::MulDiv(box.cy, m_baseY, 8), FALSE);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    }
    ::RedrawWindow(m_hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// Moved to a monitor of another scale (or the scale changed): the window
// takes the size the system suggests, its text the size of the new scale.
void ProgressWindow::OnDpiChanged(int dpi, const RECT& suggested) {
    HFONT old = m_font;
    m_font = MakeFont(dpi);
    ::SetWindowPos(m_hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceControls();
    if (old != nullptr) ::DeleteObject(old);
}

// Texts are set only when they change, so the window does not flicker.
void ProgressWindow::Refresh() {
    const auto [step, attempt] = m_watch.Now();
    const std::string stepText =
        StepText(step, attempt, m_stopping, m_place != nullptr ? m_place->load() : 0, m_place != nullptr ? m_count : 0);
    if (stepText != m_shownStep) {
        m_shownStep = stepText;
        AfxSetDlgItemText(m_hwnd, kIdStep, stepText.c_str());
    }
    // Once the server has the mail there is nothing left to stop, until the
    // next of several mails.
    if (step == SendStep::kDone) ::EnableWindow(::GetDlgItem(m_hwnd, IDCANCEL), FALSE);
    else if (m_count > 1 && !m_stopping) ::EnableWindow(::GetDlgItem(m_hwnd, IDCANCEL), TRUE);
    const DWORD seconds = Elapsed() / 1000;
    if (seconds != m_shownSeconds) {
        m_shownSeconds = seconds;
        char text[64];
        std::snprintf(text, sizeof text, "経過時間: %lu秒", static_cast<unsigned long>(seconds));
        AfxSetDlgItemText(m_hwnd, kIdElapsed, text);
    }
}

void ProgressWindow::Stop() {
    if (m_stopping) return;
    m_stopping = true;
    m_mailer.Cancel();
    ::EnableWindow(::GetDlgItem(m_hwnd, IDCANCEL), FALSE);
    Refresh();
}

LRESULT CALLBACK ProgressWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    // No exception may cross the system's code that called this; a text that
    // could not be made (no memory) just stays as it was.
    try {
        if (self != nullptr) {
            switch (message) {
            case WM_TIMER:
                // KillTimer leaves a tick already posted: the notice keeps its texts.
                if (wParam == kRefreshTimer && !self->m_notice) self->Refresh();
                return 0;
            case WM_COMMAND:
                if (LOWORD(wParam) != IDCANCEL || HIWORD(wParam) != BN_CLICKED) return 0;
                [[fallthrough]];
            case WM_CLOSE:  // the close box stops the send too; the window goes with the send
                if (!self->m_notice) {
                    self->Stop();
                } else {  // the notice is over
                    ::DestroyWindow(hwnd);
                    self->m_hwnd = nullptr;
                }
                return 0;
            case WM_MOUSEACTIVATE:  // a click on the window does not take the focus
                return MA_NOACTIVATE;
            case WM_DPICHANGED:
                self->OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
                return 0;
            default:
                break;
            }
        }
    } catch (...) {
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// Pumps the UI thread's messages until done is signalled; shows the window
// once the send has taken kShowDelayMs.
void PumpUntil(HANDLE done, ProgressWindow& window) {
    for (;;) {
        DWORD wait = INFINITE;
        if (!window.Tried()) {
            const DWORD elapsed = window.Elapsed();
            wait = elapsed >= kShowDelayMs ? 0 : kShowDelayMs - elapsed;
        }
        const DWORD r = ::MsgWaitForMultipleObjects(1, &done, FALSE, wait, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return;
        if (r == WAIT_OBJECT_0 + 1) {
            AfxPumpWaitingMessages();
        } else if (r == WAIT_TIMEOUT) {
            window.Show();
        } else {
            // The wait itself failed: nothing can be pumped, only waited for.
            ::WaitForSingleObject(done, INFINITE);
            return;
        }
    }
}

// Keeps the notice up for kNoticeMs, or until the user closes it.
void PumpNotice(ProgressWindow& window) {
    const DWORD shown = ::GetTickCount();
    while (window.Open()) {
        const DWORD elapsed = ::GetTickCount() - shown;
        if (elapsed >= kNoticeMs) return;
        if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, kNoticeMs - elapsed, QS_ALLINPUT) != WAIT_OBJECT_0) return;
        AfxPumpWaitingMessages();
    }
}

struct HandleCloser {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};

// Runs send on a thread of its own while window (made here with place and
// count) shows it; then, when the send went through, notice (null: none)
// with the window. Returns send's result and throws what it throws.
bool RunShowingProgress(CSmtpMailer& mailer, StepWatch& watch, const std::function<bool()>& send, bool showAtOnce,
                        const std::atomic<int>* place, int count, const std::function<void(ProgressWindow&)>& notice) {
    std::unique_ptr<void, HandleCloser> done(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done) return send();  // no event: no window, the send as it was

    watch.Reset();
    bool result = false;
    std::exception_ptr failure;
    {
        // Everything the sender touches outlives it: it is joined before this
        // block ends, after the window has gone.
        std::thread sender([&] {
            try {
                result = send();
            } catch (...) {
                failure = std::current_exception();
            }
            ::SetEvent(done.get());
        });
        // The window only shows the send: whatever goes wrong with it, the
        // send's own outcome counts, waited for without a window.
        try {
            ProgressWindow window(mailer, watch, mailer.Account().server.c_str(), mailer.Account().port, place,
                                  count);
            // A notice to come is shown in this window: it is there at once.
            if (showAtOnce) window.Show();
            PumpUntil(done.get(), window);
            if (notice && result && !failure) notice(window);
        } catch (...) {
            ::WaitForSingleObject(done.get(), INFINITE);
        }
        sender.join();
    }
    if (failure) std::rethrow_exception(failure);
    return result;
}

}  // namespace

bool SendShowingProgress(CSmtpMailer& mailer, StepWatch& watch, const MailProgramme& programme, bool notify) {
    const auto notice = [&](ProgressWindow& window) {
        const std::string confirmation = reserve::ConfirmationText(programme.start, programme.end, programme.channel);
        window.ShowNotice(programme.station + "  " + std::to_string(programme.channel) + "チャンネル",
                          confirmation.substr(0, confirmation.find('\n')));
        PumpNotice(window);
    };
    return RunShowingProgress(
        mailer, watch, [&] { return mailer.SendMail(programme); }, notify, nullptr, 1,
        notify ? std::function<void(ProgressWindow&)>(notice) : nullptr);
}

void SendAllShowingProgress(CSmtpMailer& mailer, StepWatch& watch, const std::function<void()>& sends,
                            const std::atomic<int>& place, int count, bool showAtOnce) {
    RunShowingProgress(
        mailer, watch,
        [&] {
            sends();
            return true;
        },
        showAtOnce, &place, count, nullptr);
}
