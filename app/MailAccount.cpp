#include "app/MailAccount.h"

#include <string>
#include <thread>
#include <vector>

#include "afx/win32/MessagePump.h"
#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/SendFailure.h"
#include "mail/SmtpMailer.h"
#include "platform/platform.h"

namespace {

// A SHA-256 fingerprint in hexadecimal.
constexpr size_t kPinDigits = 64;


// The texts of a test that did not end by itself.
constexpr const char* kTestStopped = "接続テストを中止しました";
constexpr const char* kTestDeadline =
    "接続テストを中止しました(サーバが%u秒以内に応答しませんでした)\n"
    "SMTPサーバ名、ポート番号と暗号化の方式を確認してください";

// mailer: made by the caller with the account, so that it can be cancelled
// from its thread.
ConnectionTestOutcome TestConnection(CSmtpMailer& mailer) {
    ConnectionTestOutcome outcome;
    if (!mailer.ResolveServer()) {
        outcome.text = UnresolvableServerText(mailer.Account().server).c_str();
        return outcome;
    }
    try {
        WriteLog("I:ConnectionTest\r\n");
        // Without a sender address of its own the test says no MAIL FROM.
        const CSmtpMailer::ConnectionInfo info = mailer.TestConnection(mailer.Account().sender);
        outcome.succeeded = true;
        outcome.text.Format("接続テストに成功しました\nサーバ: %s\n暗号化: %s", info.serverName.c_str(),
                            info.tlsProtocol.empty() ? "なし" : info.tlsProtocol.c_str());
    } catch (const CExceptionBase& e) {
        outcome.text = SendFailureText(e);
        // The same line as a failed send's; a log that cannot be written
        // does not change what the box says.
        try {
            WriteLog(std::string("E:<") + e.what() + "> at " + e.GetLocation() + "\r\n");
        } catch (...) {
        }
    } catch (...) {
        outcome.text = SendUnknownFailureText();
    }
    return outcome;
}

}  // namespace

MailAccount MailAccountForm::Account(const char* server) const {
    MailAccount account;
    account.server = server;
    account.port = static_cast<uint16_t>(port);
    account.encryption = encryption;
    account.user = user.str();
    account.certPin = certPin.str();
    account.sender = from.str();
    if (!newPassword.IsEmpty())
        account.password = SmtpPassword::Typed(newPassword.str());
    else if (!clearPassword)
        account.password = SmtpPassword::Stored(storedPassword);
    return account;
}

bool IsCertPinText(const char* text) {
    // The mail client turns anything but 64 digits into a marker of another
    // length, and no pin into an empty text.
    const std::string digits = NormalizePin(text);
    return digits.empty() || digits.size() == kPinDigits;
}

const char* MailAddressPrompt(const char* text) {
    switch (CheckAddress(text)) {
        case AddressFault::kForbidden:
            return "メールアドレスは < > や空白、改行を付けずに入力してください。";
        case AddressFault::kNotAscii:
            return "メールアドレスは半角の英数字と記号で入力してください。\n"
                   "全角文字や半角カナを含むアドレスには送信できません。";
        case AddressFault::kNone:
            break;
    }
    return nullptr;
}

bool PasswordStaysUnsent(const char* server, const MailAccountForm& form) {
    if (form.user.IsEmpty() || form.encryption != Encryption::kNone) return false;
    MailAccount account = form.Account(server);
    return !ResolveServer(account) || !IsLoopback(account.address);
}

namespace {

// Disables every control of a window but one while it lives, and enables
// again exactly the ones it disabled.
class ControlsDisabled {
public:
    ControlsDisabled(HWND window, HWND keep) {
        for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            if (child == keep || !::IsWindowEnabled(child)) continue;
            ::EnableWindow(child, FALSE);
            m_disabled.push_back(child);
        }
    }
    ~ControlsDisabled() {
        for (HWND child : m_disabled) ::EnableWindow(child, TRUE);
    }
    ControlsDisabled(const ControlsDisabled&) = delete;
    ControlsDisabled& operator=(const ControlsDisabled&) = delete;

private:
    std::vector<HWND> m_disabled;
};

}  // namespace

ConnectionTestOutcome RunConnectionTest(HWND window, HWND stopButton, const bool& stop, const MailAccount& account) {
    ConnectionTestOutcome outcome;
    HANDLE done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr) {
        outcome.text = SendUnknownFailureText();
        return outcome;
    }
    CSmtpMailer mailer(account);
    std::thread worker;
    try {
        worker = std::thread([&] {
            outcome = TestConnection(mailer);
            ::SetEvent(done);
        });
    } catch (...) {  // no thread could be started
        ::CloseHandle(done);
        outcome.text = SendUnknownFailureText();
        return outcome;
    }
    bool stopped = false;
    bool late = false;
    {
        ControlsDisabled disabled(window, stopButton);
        // Keep the window painted and its stop button working while the test
        // runs. A WM_QUIT is handed on once the test is over.
        const uint32_t started = plat::TickCount();
        AfxQuit quit;
        for (;;) {
            DWORD waitMs = INFINITE;
            if (!stopped) {
                const uint32_t elapsed = plat::TickCount() - started;
                waitMs = elapsed < kConnectionTestDeadlineMs ? kConnectionTestDeadlineMs - elapsed : 0;
            }
            const DWORD woken = ::MsgWaitForMultipleObjects(1, &done, FALSE, waitMs, QS_ALLINPUT);
            if (woken == WAIT_OBJECT_0) break;
            if (woken == WAIT_TIMEOUT && !stopped) {
                late = stopped = true;
                mailer.Cancel();
                continue;
            }
            AfxPumpWaitingMessages(&quit);
            if (stop && !stopped) {
                stopped = true;
                mailer.Cancel();
            }
        }
        worker.join();
        ::CloseHandle(done);
        if (quit.seen) ::PostQuitMessage(static_cast<int>(quit.code));
    }
    // A test that still succeeded as the stop came says so; any other end
    // after a stop is the stop's doing.
    if (stopped && !outcome.succeeded) {
        if (late)
            outcome.text.Format(kTestDeadline, static_cast<unsigned>(kConnectionTestDeadlineMs / 1000));
        else
            outcome.text = kTestStopped;
    }
    return outcome;
}
