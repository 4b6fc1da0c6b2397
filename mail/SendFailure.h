// The one place that says, in the user's words, why a send failed: the
// reservation run and the settings dialog's connection test show the same
// texts (code page 932).
#pragma once

class CExceptionBase;

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
