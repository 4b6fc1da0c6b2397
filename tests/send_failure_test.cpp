// What the user is told for each way a send can fail: every failure kind
// has its own text, and kinds that share a base class are not mixed up.
#include "mail/SendFailure.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Exceptions.h"

TEST(SendFailure, EachKindHasItsOwnText) {
    // The first line of each text, as the box shows it; kinds with a text of
    // their own have the fix on the lines after it.
    const struct {
        const CExceptionBase& e;
        const char* first;
        bool advice;
    } table[] = {
        {CSmtpSetupError(), "メール送信に失敗しました(サーバエラー)", false},
        {CSenderRefused(), "メール送信に失敗しました(差出人アドレスが拒否されました)", true},
        {CCertUntrusted(), "メール送信に失敗しました(証明書を信頼できません)", true},
        {CCertRevoked(), "メール送信に失敗しました(証明書が失効しています)", true},
        {CCertNameMismatch(), "メール送信に失敗しました(証明書の名前が違います)", true},
        {CCertPinMismatch(), "メール送信に失敗しました(証明書の指紋が違います)", true},
        {CTlsHandshakeError(), "メール送信に失敗しました(暗号化の開始に失敗しました)", true},
        {CStartTlsNotOffered(), "メール送信に失敗しました(STARTTLSに対応していません)", true},
        {CAuthRefused(), "メール送信に失敗しました(認証に失敗しました)", true},
        {CAuthNotOffered(), "メール送信に失敗しました(認証に対応していません)", true},
        {CClearTextPassword(), "メール送信に失敗しました(パスワードが暗号化されません)", true},
        {CUnknownEncryption(), "メール送信に失敗しました(暗号化の設定が正しくありません)", true},
        {CPinWithoutTls(), "メール送信に失敗しました(暗号化なしで証明書の指紋が設定されています)", true},
        {CPasswordUnreadable(), "メール送信に失敗しました(パスワードを復号できません)", true},
        {CSystemLibraryMissing(), "メール送信に失敗しました(Windowsのシステムファイルを読み込めません)", true},
        {CBadAddress(), "メール送信に失敗しました(メールアドレスが正しくありません)", true},
        // Every other failure is the socket's.
        {CTlsError(), "メール送信に失敗しました(ソケットエラー)", false},
        {CSockIOerror(), "メール送信に失敗しました(ソケットエラー)", false},
        {CSockCreateError(), "メール送信に失敗しました(ソケットエラー)", false},
        {CSockClose(), "メール送信に失敗しました(ソケットエラー)", false},
        {CTimeOut(), "メール送信に失敗しました(ソケットエラー)", false},
        {CFileIOerror(), "メール送信に失敗しました(ソケットエラー)", false},
        {CFatal(), "メール送信に失敗しました(ソケットエラー)", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.e.what());
        const std::string text = SendFailureText(row.e);
        EXPECT_EQ(text.substr(0, text.find('\n')), row.first);
        EXPECT_EQ(text.find('\n') != std::string::npos, row.advice) << text;
    }
    EXPECT_STREQ(SendRefusedText(), "メール送信に失敗しました(サーバエラー)");
    EXPECT_STREQ(SendUnknownFailureText(), "メール送信に失敗しました");
    EXPECT_EQ(std::string(SenderRefusedText()), SendFailureText(CSenderRefused()));
}

TEST(SendFailure, AServerWithoutAnAddressIsNamed) {
    EXPECT_EQ(UnresolvableServerText("smtp.example.jp"), "SMTPサーバ名(smtp.example.jp)をIPアドレスに変換できません");
    EXPECT_EQ(UnresolvableServerText(""), "SMTPサーバ名()をIPアドレスに変換できません");
}

TEST(SendFailure, TheHistorysReasonGivesTheBoxsWords) {
    // reason as a history line names it (the log's word) -> what the box said
    const struct {
        const char* reason;
        const char* cause;
    } table[] = {
        {"", ""},
        {"SMTP error", "サーバエラー"},
        {"SmtpSetupError", "サーバエラー"},
        {"SenderRefused", "差出人アドレスが拒否されました"},
        {"SocketI/Oerror", "ソケットエラー"},
        {"TimeOut", "ソケットエラー"},
        {"No space left on device", "ソケットエラー"},
        {"CertificateNotTrusted", "証明書を信頼できません"},
        {"AuthRefused", "認証に失敗しました"},
        {"CertificatePinWithoutEncryption", "暗号化なしで証明書の指紋が設定されています"},
        {"SystemLibraryMissing(secur32.dll)", "Windowsのシステムファイルを読み込めません"},
        {"UnknownException", ""},
    };
    for (const auto& row : table) EXPECT_EQ(SendFailureCause(row.reason), row.cause) << row.reason;
}
