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
