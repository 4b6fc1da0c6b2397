#include "mail/SendFailure.h"

#include <typeinfo>

#include "base/Exceptions.h"

namespace {

template <typename T>
bool Is(const CExceptionBase& e) {
    return dynamic_cast<const T*>(&e) != nullptr;
}

// The history's words for the failures that are not an exception's text.
constexpr char kRefusedReason[] = "SMTP error";
constexpr char kUnknownReason[] = "UnknownException";

// Whether name is the text of class T (its name string); text gets T's box then.
template <typename T>
bool Names(const std::string& name, const char*& text) {
    const T e;
    if (name != e.what()) return false;
    text = SendFailureText(e);
    return true;
}

// The box shown for a failure the history names by reason.
const char* BoxTextFor(const std::string& reason) {
    if (reason == kRefusedReason) return SendRefusedText();
    if (reason == kUnknownReason) return SendUnknownFailureText();
    // A text may name a detail after the class's name: "SystemLibraryMissing(secur32.dll)".
    const std::string name = reason.substr(0, reason.find('('));
    const char* text = nullptr;
    if (Names<CSmtpSetupError>(name, text) || Names<CSenderRefused>(name, text) ||
        Names<CCertUntrusted>(name, text) || Names<CCertRevoked>(name, text) ||
        Names<CCertNameMismatch>(name, text) || Names<CCertPinMismatch>(name, text) ||
        Names<CTlsHandshakeError>(name, text) || Names<CStartTlsNotOffered>(name, text) ||
        Names<CAuthRefused>(name, text) || Names<CAuthNotOffered>(name, text) ||
        Names<CClearTextPassword>(name, text) || Names<CUnknownEncryption>(name, text) ||
        Names<CPinWithoutTls>(name, text) || Names<CSystemLibraryMissing>(name, text) ||
        Names<CPasswordUnreadable>(name, text))
        return text;
    // Every other failure of the hierarchy was shown as the socket's.
    return SendFailureText(CSockIOerror());
}

}  // namespace

std::string UnresolvableServerText(const std::string& server) {
    return "SMTPサーバ名(" + server + ")をIPアドレスに変換できません";
}

const char* SendRefusedText() { return "メール送信に失敗しました(サーバエラー)"; }

const char* SenderRefusedText() {
    return "メール送信に失敗しました(差出人アドレスが拒否されました)\n"
           "プロバイダのサーバがこの差出人アドレスからの送信を受け付けません\n"
           "送信設定の差出人アドレスに、メールアカウントのアドレスを設定してください";
}

const char* SendUnknownFailureText() { return "メール送信に失敗しました"; }

const char* SendFailureText(const CExceptionBase& e) {
    // A connection test's refused step is the server's answer, as in a send.
    if (typeid(e) == typeid(CSmtpSetupError)) return SendRefusedText();
    if (Is<CSenderRefused>(e)) return SenderRefusedText();
    if (Is<CCertUntrusted>(e))
        return "メール送信に失敗しました(証明書を信頼できません)\n"
               "サーバの証明書が信頼された認証局のものではありません\n"
               "自己署名の証明書なら設定で指紋(SHA-256)を登録してください";
    if (Is<CCertRevoked>(e))
        return "メール送信に失敗しました(証明書が失効しています)\n"
               "サーバの証明書は発行した認証局によって失効させられています\n"
               "プロバイダに確認してください";
    if (Is<CCertNameMismatch>(e))
        return "メール送信に失敗しました(証明書の名前が違います)\n"
               "SMTPサーバ名を証明書にある名前で設定してください";
    if (Is<CCertPinMismatch>(e))
        return "メール送信に失敗しました(証明書の指紋が違います)\n"
               "サーバの証明書が登録した指紋(SHA-256)と一致しません\n"
               "証明書が更新されたなら指紋を登録し直してください";
    if (Is<CTlsHandshakeError>(e))
        return "メール送信に失敗しました(暗号化の開始に失敗しました)\n"
               "サーバがTLS 1.2以上に対応しているか、ポート番号と暗号化の方式を確認してください";
    if (Is<CStartTlsNotOffered>(e))
        return "メール送信に失敗しました(STARTTLSに対応していません)\n"
               "サーバが暗号化(STARTTLS)を提供していません\n"
               "ポート番号と暗号化の方式を確認してください";
    if (Is<CAuthRefused>(e))
        return "メール送信に失敗しました(認証に失敗しました)\n"
               "SMTP認証のユーザ名とパスワードを確認してください";
    if (Is<CAuthNotOffered>(e))
        return "メール送信に失敗しました(認証に対応していません)\n"
               "サーバがSMTP認証(PLAIN/LOGIN)を提供していません\n"
               "ポート番号と暗号化の方式を確認してください";
    if (Is<CClearTextPassword>(e))
        return "メール送信に失敗しました(パスワードが暗号化されません)\n"
               "暗号化(STARTTLSまたはSSL/TLS)を設定してください";
    if (Is<CUnknownEncryption>(e))
        return "メール送信に失敗しました(暗号化の設定が正しくありません)\n"
               "Quorpa.iniのsmtpsslは0(なし)、1(STARTTLS)、2(SSL/TLS)のどれかです\n"
               "送信設定で暗号化を選び直してください";
    if (Is<CPinWithoutTls>(e))
        return "メール送信に失敗しました(暗号化なしで証明書の指紋が設定されています)\n"
               "暗号化なしでは証明書の指紋(smtpcert)を確かめられません\n"
               "送信設定で暗号化(STARTTLSまたはSSL/TLS)を選ぶか、指紋を消してください";
    if (Is<CBadAddress>(e))
        return "メール送信に失敗しました(メールアドレスが正しくありません)\n"
               "宛先アドレスか差出人アドレスに < > や空白、改行、全角文字が含まれています\n"
               "設定でメールアドレスを半角の英数字と記号で入力し直してください";
    if (Is<CSystemLibraryMissing>(e))
        return "メール送信に失敗しました(Windowsのシステムファイルを読み込めません)\n"
               "暗号化またはパスワードに使うWindowsのファイルが見つからないか壊れています\n"
               "Windowsのシステムファイルを修復してください";
    if (Is<CPasswordUnreadable>(e))
        return "メール送信に失敗しました(パスワードを復号できません)\n"
               "設定でパスワードを入力し直してください";
    return "メール送信に失敗しました(ソケットエラー)";
}

std::string SendFailureCause(const std::string& reason) {
    if (reason.empty()) return std::string();
    // The first line's words in parentheses. '(' and ')' are never the
    // second byte of a double-byte character, nor is a line end.
    const std::string text = BoxTextFor(reason);
    const std::string first = text.substr(0, text.find('\n'));
    const size_t open = first.find('(');
    const size_t close = first.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::string();
    return first.substr(open + 1, close - open - 1);
}
