// Setting mode, the run without a file argument: the settings dialog over
// the INI file's values, saved while the dialog is open, and the history's
// entries sent again through the reservation driver.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/DesktopShell.h"
#include "app/ProgramFiles.h"
#include "app/SettingMode.h"
#include "app/SettingDlg.h"
#include "app/Settings.h"
#include "app/Warning.h"
#include "base/system.h"
#include "mail/Password.h"
#include "mail/SendFailure.h"
#include "mail/SmtpMailer.h"
#include "reserve/History.h"
#include "reserve/Reserver.h"

namespace {

// Says that the INI file could not be written.
void ShowWriteFailure(const wchar_t* ini) {
    CString text;
    text.Format("設定ファイル(%s)に書き込めません\n設定は保存されていません", Narrow(ini).c_str());
    ShowWarning(text);
}

// Writes the confirmed dialog values back, with the port (as read at
// start-up unless the mail account dialog changed it) and whether the log
// is on (a log that could not be created this time stays on for the next
// run); then the mail account values when the mail account dialog's OK
// confirmed them (an untouched account leaves its keys as they are): the
// password protected for the current user, left as stored when none was
// typed, emptied when the user cleared it. Stops at the first failure and
// says so in a box; returns false then.
bool SaveSettings(const CSettingDlg& dlg, Settings s, const wchar_t* ini) {
    s.rcpt = dlg.m_strRcpt;
    s.smtpSvr = dlg.m_strSmtpSvr;
    s.startAdjust = dlg.m_nStartAdjust;
    s.endAdjust = dlg.m_nEndAdjust;
    s.port = static_cast<uint16_t>(dlg.m_mail.port);
    s.logOutput = dlg.m_nLogOutput != 0 ? 1 : 0;
    s.notify = dlg.m_nNotify != 0 ? 1 : 0;
    if (!WriteSettings(s, SettingGroup::kMain, true, ini)) {
        ShowWriteFailure(ini);
        return false;
    }
    if (!dlg.m_bMailChanged) return true;
    const MailAccountForm& mail = dlg.m_mail;
    s.encryption = mail.encryption;
    s.user = mail.user;
    s.certPin = mail.certPin;
    s.mailFrom = mail.from;
    s.password.clear();
    if (!mail.clearPassword && !mail.newPassword.IsEmpty() && !ProtectPassword(mail.newPassword.str(), &s.password)) {
        ShowWarning("パスワードを暗号化できません\n送信設定は保存されていません");
        return false;
    }
    const bool keepPassword = !mail.clearPassword && mail.newPassword.IsEmpty();
    if (WriteSettings(s, SettingGroup::kMail, keepPassword, ini)) return true;
    ShowWriteFailure(ini);
    return false;
}

// Sends the history's entry again: with the mail settings of the INI file
// ini and the template format as they are now, recorded in the history at
// historyPath. Returns whether the mail went out.
bool Resend(const history::Entry& entry, const wchar_t* ini, const wchar_t* format, const std::string& historyPath);

}  // namespace

void SettingMode(CWinApp& app, const Settings& settings, const wchar_t* iniPath, const wchar_t* formatPath,
                 const std::string& historyPath) {
    WriteLog("I:SettingMode\r\n");
    {
        CSettingDlg dlg(settings.rcpt, settings.smtpSvr, settings.startAdjust,
                        settings.endAdjust, nullptr);
        dlg.m_mail.port = static_cast<uint16_t>(settings.port);
        dlg.m_mail.encryption = settings.encryption;
        dlg.m_mail.user = settings.user;
        dlg.m_mail.certPin = settings.certPin;
        dlg.m_mail.from = settings.mailFrom;
        dlg.m_nLogOutput = settings.logOutput == 1 ? 1 : 0;
        dlg.m_nNotify = settings.notify == 1 ? 1 : 0;
        dlg.m_mail.storedPassword = settings.password;
        // Saved while the dialog is still open, so a failed write keeps
        // what the user typed on the screen. The mail account values only
        // when the user confirmed them: an untouched account leaves the
        // INI file as it was.
        dlg.m_save = [&](const CSettingDlg& d) {
            if (PasswordStaysUnsent(d.m_strSmtpSvr, d.m_mail)) {
                CString text;
                text.Format("SMTPサーバ(%s)はループバックアドレスではないため、暗号化なしでは"
                            "パスワードを送信しません(メール送信は失敗します)\n"
                            "送信設定で暗号化(STARTTLSまたはSSL/TLS)を設定してください",
                            d.m_strSmtpSvr.GetString());
                ShowWarning(text);
            }
            return SaveSettings(d, settings, iniPath);
        };
        dlg.m_history.load = [&] { return history::Load(historyPath); };
        dlg.m_history.resend = [&](const history::Entry& entry) { Resend(entry, iniPath, formatPath, historyPath); };
        dlg.m_history.remove = [&](const std::vector<history::Entry>& gone) {
            if (!history::Remove(historyPath, gone)) ShowWarning("予約履歴ファイルに書き込めません");
        };
        app.m_pMainWnd = &dlg;
        if (dlg.DoModal() == IDOK) WriteLog("I:SaveSetting\r\n");
        app.m_pMainWnd = nullptr;
    }
    WriteLog("I:AplicationTerminated\r\n");
}

namespace {

bool Resend(const history::Entry& entry, const wchar_t* ini, const wchar_t* format, const std::string& historyPath) {
    // The settings as saved now, not as the dialog shows them unconfirmed.
    Settings settings;
    ReadSettings(settings, ini);
    MailAccount account = settings.Account();
    if (!ResolveServer(account)) {
        ShowWarning(UnresolvableServerText(account.server).c_str());
        return false;
    }
    CString formatText;
    if (!ReadTextFile(format, formatText)) {
        ShowWarning("メールフォーマットファイルを読み込めません");
        return false;
    }
    DesktopShell shell(std::move(account), formatText.str(), settings.notify == 1);
    reserve::ReserveOptions options;
    options.historyPath = historyPath;
    return reserve::Reserver(shell, options).Resend(entry);
}

}  // namespace
