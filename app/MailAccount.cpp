#include "app/MailAccount.h"

#include <cstring>
#include <string>
#include <thread>

#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/SendFailure.h"
#include "mail/SmtpMailer.h"
#include "platform/tls.h"

namespace {

// A SHA-256 fingerprint in hexadecimal.
constexpr size_t kPinDigits = 64;

void Log(const std::string& text) { CLogFile::GetInstance(nullptr)->Write(text.c_str()); }

ConnectionTestOutcome TestConnection(const std::string& server, const MailAccount& account) {
    ConnectionTestOutcome outcome;
    const uint32_t address = ResolveHostAddress(server.c_str());
    if (address == INADDR_NONE) {
        // As the start-up says it for an unresolvable server.
        outcome.text.Format("SMTPサーバ名(%s)をIPアドレスに変換できません", server.c_str());
        return outcome;
    }
    CSmtpMailer mailer;
    mailer.m_ulSmtpAddr = address;
    mailer.m_usSmtpPort = static_cast<uint16_t>(account.port);
    mailer.m_nSsl = account.ssl;
    mailer.m_strServerName = server;
    mailer.m_strUser = account.user.str();
    mailer.m_strCertPin = account.certPin.str();
    if (!account.newPassword.IsEmpty())
        mailer.m_strPassword = account.newPassword.str();
    else if (!account.clearPassword && !account.storedPassword.empty() &&
             !plat::UnprotectSecret(account.storedPassword, &mailer.m_strPassword))
        mailer.m_bPasswordUnreadable = true;
    try {
        Log("I:ConnectionTest\r\n");
        // Without a sender address of its own the test says no MAIL FROM.
        const CSmtpMailer::ConnectionInfo info = mailer.TestConnection(account.from.str());
        outcome.succeeded = true;
        outcome.text.Format("接続テストに成功しました\nサーバ: %s\n暗号化: %s", info.serverName.c_str(),
                            info.tlsProtocol.empty() ? "なし" : info.tlsProtocol.c_str());
    } catch (const CExceptionBase& e) {
        outcome.text = SendFailureText(e);
        // The same line as a failed send's; a log that cannot be written
        // does not change what the box says.
        try {
            Log(std::string("E:<") + e.what() + "> at " + e.GetLocation() + "\r\n");
        } catch (...) {
        }
    } catch (...) {
        outcome.text = SendUnknownFailureText();
    }
    return outcome;
}

}  // namespace

uint32_t ResolveHostAddress(const char* name) {
    uint32_t address = ::inet_addr(name);
    if (address != INADDR_NONE) return address;
    const hostent* host = ::gethostbyname(name);
    if (host == nullptr || host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
        return INADDR_NONE;
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    return address;
}

bool IsCertPinText(const char* text) {
    // The mail client turns anything but 64 digits into a marker of another
    // length, and no pin into an empty text.
    const std::string digits = CSmtpMailer::NormalizePin(text);
    return digits.empty() || digits.size() == kPinDigits;
}

bool PasswordStaysUnsent(const char* server, const MailAccount& account) {
    if (account.user.IsEmpty() || account.ssl != CSmtpMailer::kSslNone) return false;
    const uint32_t address = ResolveHostAddress(server);
    return address == INADDR_NONE || !CSmtpMailer::IsLoopback(address);
}

ConnectionTestOutcome RunConnectionTest(HWND window, const char* server, const MailAccount& account) {
    ConnectionTestOutcome outcome;
    HANDLE done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr) {
        outcome.text = SendUnknownFailureText();
        return outcome;
    }
    const std::string name = server;
    std::thread worker;
    try {
        worker = std::thread([&] {
            outcome = TestConnection(name, account);
            ::SetEvent(done);
        });
    } catch (...) {  // no thread could be started
        ::CloseHandle(done);
        outcome.text = SendUnknownFailureText();
        return outcome;
    }
    ::EnableWindow(window, FALSE);
    // Keep the window painted while the test runs; input cannot reach it,
    // it is disabled. A WM_QUIT is handed on once the test is over.
    bool quit = false;
    WPARAM quitCode = 0;
    while (::MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    worker.join();
    ::CloseHandle(done);
    ::EnableWindow(window, TRUE);
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return outcome;
}
