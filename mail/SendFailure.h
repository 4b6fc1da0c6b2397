// The one place that says, in the user's words, why a send failed: the
// reservation run, the resend from the history and the settings dialog's
// connection test show the same texts (code page 932).
#pragma once

#include <string>

class CExceptionBase;

// The text for a server name that gives no address (ResolveServer).
std::string UnresolvableServerText(const std::string& server);

// The text for a send the server refused with a 4xx or 5xx reply.
const char* SendRefusedText();
// The text for a send the server refused for its sender address.
const char* SenderRefusedText();
// The text for a send that ended with e: what to fix for the TLS, login
// and password failures, the socket error text for every other failure of
// the hierarchy. Never null; the text is static.
const char* SendFailureText(const CExceptionBase& e);
// The text for a failure outside the hierarchy.
const char* SendUnknownFailureText();

// What the failure box said went wrong (the words in parentheses after
// "メール送信に失敗しました": "証明書を信頼できません"), for a failure the
// history names by the log's word for it ("SMTP error", an exception's text
// such as "SocketI/Oerror" or "SystemLibraryMissing(secur32.dll)"). Lines
// of every version name their failures so. Empty for no reason and where
// the box named no cause (a failure outside the hierarchy).
std::string SendFailureCause(const std::string& reason);
