// The exception classes through which every technical failure travels.
//
// Every object carries the raising source file and line, an error number (a
// Winsock code, the runtime's errno or a wait result, depending on where it
// was raised) and a text (by default the class's name string). Objects are
// thrown by value and caught by reference. CExceptionBase, CNotError,
// CIOerror, CSockError, CTlsError and CSmtpSetupError are never thrown
// themselves: they are categories to catch.
//
// Each constructor passes nothing to its base and then calls SetInfo with its
// own four arguments, so a finished object holds exactly the values given to
// the most-derived constructor; a base level's name string never survives.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class CExceptionBase : public std::exception {
public:
    explicit CExceptionBase(const char* file = "", uint32_t line = 0, int32_t errorNo = 0,
                            const char* text = "BaseException");
    ~CExceptionBase() override;

    // The text; an empty text gives an empty string, never a null pointer.
    const char* what() const noexcept override;
    // Replaces all four values. A null file or text counts as empty.
    virtual void SetInfo(const char* file, uint32_t line, int32_t errorNo, const char* text);
    // "file(line)". The characters live in one fixed buffer shared by the
    // whole process: the pointer stays valid, but the next GetLocation call
    // on any object overwrites the text, so copy or print it before calling
    // again. A file name too long for the buffer (over 1000 characters) is
    // cut short; the line number stays. Not thread-safe.
    virtual const char* GetLocation() const;
    virtual int32_t GetErrorNo() const;

private:
    std::string m_file;
    uint32_t m_line = 0;
    int32_t m_errorNo = 0;
    std::string m_text;
};

// Declares a class of the tree: its constructor takes the four values with
// the class's own name string as the default text.
#define QUORPA_EXCEPTION_CLASS(Name, Base, NameString)                                    \
    class Name : public Base {                                                            \
    public:                                                                               \
        explicit Name(const char* file = "", uint32_t line = 0, int32_t errorNo = 0,      \
                      const char* text = NameString)                                      \
            : Base() {                                                                    \
            SetInfo(file, line, errorNo, text);                                           \
        }                                                                                 \
    }

QUORPA_EXCEPTION_CLASS(CFatal, CExceptionBase, "FatalError");
QUORPA_EXCEPTION_CLASS(CIllegalParam, CFatal, "IllegalParam");
QUORPA_EXCEPTION_CLASS(CNotEnoughResource, CFatal, "NotEnoughResource");
QUORPA_EXCEPTION_CLASS(CIllegalPath, CFatal, "IllegalPath");
// A library of Windows (or one of its functions) that the program loads on
// first use cannot be had: a damaged installation (platform/libraries.h).
// The text names it: "SystemLibraryMissing(secur32.dll)".
QUORPA_EXCEPTION_CLASS(CSystemLibraryMissing, CFatal, "SystemLibraryMissing");
QUORPA_EXCEPTION_CLASS(CNotError, CExceptionBase, "NotError");
QUORPA_EXCEPTION_CLASS(CTimeOut, CNotError, "TimeOut");
QUORPA_EXCEPTION_CLASS(CSockClose, CNotError, "SocketClose");
QUORPA_EXCEPTION_CLASS(CIOerror, CExceptionBase, "I/O Error");
// Every raising point of a file error gives its own text (strerror's).
QUORPA_EXCEPTION_CLASS(CFileIOerror, CIOerror, "FileIOerror");
QUORPA_EXCEPTION_CLASS(CSockError, CIOerror, "SockError");
QUORPA_EXCEPTION_CLASS(CSockIOerror, CSockError, "SocketI/Oerror");
QUORPA_EXCEPTION_CLASS(CSockCreateError, CSockError, "SocketCreateError");
// The encrypted connection failed; each cause has its own class so that the
// user is told what to fix. CTlsError itself is only a category.
QUORPA_EXCEPTION_CLASS(CTlsError, CSockError, "TlsError");
QUORPA_EXCEPTION_CLASS(CTlsHandshakeError, CTlsError, "TlsHandshakeFailed");
QUORPA_EXCEPTION_CLASS(CCertUntrusted, CTlsError, "CertificateNotTrusted");
QUORPA_EXCEPTION_CLASS(CCertNameMismatch, CTlsError, "CertificateNameMismatch");
QUORPA_EXCEPTION_CLASS(CCertPinMismatch, CTlsError, "CertificateFingerprintMismatch");
// The certificate's issuer has revoked it (its CRL or OCSP says so).
QUORPA_EXCEPTION_CLASS(CCertRevoked, CTlsError, "CertificateRevoked");
// The server cannot be used as configured (a missing extension, a refused
// login, a password that would travel in clear); CSmtpSetupError is only a
// category.
QUORPA_EXCEPTION_CLASS(CSmtpSetupError, CIOerror, "SmtpSetupError");
QUORPA_EXCEPTION_CLASS(CStartTlsNotOffered, CSmtpSetupError, "StartTlsNotOffered");
QUORPA_EXCEPTION_CLASS(CAuthNotOffered, CSmtpSetupError, "AuthNotOffered");
QUORPA_EXCEPTION_CLASS(CAuthRefused, CSmtpSetupError, "AuthRefused");
QUORPA_EXCEPTION_CLASS(CClearTextPassword, CSmtpSetupError, "PasswordInClearText");
// The server refused the sender address (MAIL FROM) as not the account's.
QUORPA_EXCEPTION_CLASS(CSenderRefused, CSmtpSetupError, "SenderRefused");
// The stored password cannot be decrypted (another user, another machine).
QUORPA_EXCEPTION_CLASS(CPasswordUnreadable, CSmtpSetupError, "PasswordUnreadable");
// Settings that would weaken the connection without a word: an encryption
// value the program does not know, a fingerprint with no encryption.
QUORPA_EXCEPTION_CLASS(CUnknownEncryption, CSmtpSetupError, "UnknownEncryptionSetting");
QUORPA_EXCEPTION_CLASS(CPinWithoutTls, CSmtpSetupError, "CertificatePinWithoutEncryption");
// A sender or recipient address that cannot go on the wire (CheckAddress);
// the error number is its AddressFault.
QUORPA_EXCEPTION_CLASS(CBadAddress, CSmtpSetupError, "BadMailAddress");

#undef QUORPA_EXCEPTION_CLASS

// Raises Class with the raising statement's file and line and the given error
// number, and optionally a text: THROW_AT(CTimeOut, 0), THROW_AT(CFatal, e, msg).
// Without a text the class's name string applies.
#define THROW_AT(Class, ...) throw Class(__FILE__, __LINE__, __VA_ARGS__)
