// What the user is told for each way a send can fail: every failure kind
// has its own text, and kinds that share a base class are not mixed up.
#include "mail/SendFailure.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/Exceptions.h"

TEST(SendFailure, EachKindHasItsOwnText) {
    // Each text is recognised by its reason in parentheses; no reason: the
    // text of a step the server refused.
    const struct {
        const CExceptionBase& e;
        const char* reason;
    } table[] = {
        {CSmtpSetupError(), nullptr},
        {CCertUntrusted(), "(証明書を信頼できません)"},
        {CCertNameMismatch(), "(証明書の名前が違います)"},
        {CCertPinMismatch(), "(証明書の指紋が違います)"},
        {CTlsHandshakeError(), "(暗号化の開始に失敗しました)"},
        {CStartTlsNotOffered(), "(STARTTLSに対応していません)"},
        {CAuthRefused(), "(認証に失敗しました)"},
        {CAuthNotOffered(), "(認証に対応していません)"},
        {CClearTextPassword(), "(パスワードが暗号化されません)"},
        {CPasswordUnreadable(), "(パスワードを復号できません)"},
        {CSystemLibraryMissing(), "(Windowsのシステムファイルを読み込めません)"},
        {CBadAddress(), "(メールアドレスが正しくありません)"},
        // Every other failure is the socket's.
        {CTlsError(), "(ソケットエラー)"},
        {CSockIOerror(), "(ソケットエラー)"},
        {CSockCreateError(), "(ソケットエラー)"},
        {CSockClose(), "(ソケットエラー)"},
        {CTimeOut(), "(ソケットエラー)"},
        {CFileIOerror(), "(ソケットエラー)"},
        {CFatal(), "(ソケットエラー)"},
    };
    std::map<std::string, std::string> kindOfText;
    for (const auto& row : table) {
        SCOPED_TRACE(row.e.what());
        const std::string text = SendFailureText(row.e);
        if (row.reason == nullptr) {
            EXPECT_EQ(text, SendRefusedText());
            continue;
        }
        EXPECT_EQ(text.find(SendUnknownFailureText()), 0u);
        EXPECT_NE(text.find(row.reason), std::string::npos) << text;
        // One reason, one text.
        const auto known = kindOfText.emplace(row.reason, text);
        EXPECT_EQ(known.first->second, text);
    }
    EXPECT_EQ(kindOfText.size(), 12u);
    EXPECT_EQ(std::string(SendRefusedText()).find("(サーバエラー)"), std::string(SendUnknownFailureText()).size());
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
