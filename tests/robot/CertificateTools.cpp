// Tools of the robot that make the tests' throwaway CA trusted inside the
// Wine prefix they run in, and only there (the prefix's HKCU registry; the
// machine's own certificate store is never touched):
//
//   --tool trustca FILE.der     adds the DER certificate to the current
//                               user's Root store (replacing an equal one)
//   --tool untrustca FILE.der   deletes it from there again; absent is fine
//   --tool trusted FILE.der     exit code 0 when the Root store holds it
//
// On real Windows, adding to the user's Root store asks the user first; Wine
// does not ask.
#include <cstdio>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

#include "Robot.h"

namespace {

// Caps what a certificate file may hold: a CA certificate is a few KiB.
constexpr long kMaxCertificateBytes = 64 * 1024;

std::vector<BYTE> ReadCertificate(const std::wstring& path) {
    std::vector<BYTE> der;
    FILE* fp = ::_wfopen(path.c_str(), L"rb");
    if (fp == nullptr) return der;
    if (std::fseek(fp, 0, SEEK_END) == 0) {
        const long size = std::ftell(fp);
        if (size > 0 && size <= kMaxCertificateBytes && std::fseek(fp, 0, SEEK_SET) == 0) {
            der.resize(static_cast<size_t>(size));
            if (std::fread(der.data(), 1, der.size(), fp) != der.size()) der.clear();
        }
    }
    std::fclose(fp);
    return der;
}

// The certificate of `der` found in the current user's Root store opened
// through the registry provider (a delete through CertOpenSystemStore's
// handle does not last beyond the process under Wine); null when absent.
// The caller frees the context (or deletes it) and closes *store.
PCCERT_CONTEXT FindInRoot(const std::vector<BYTE>& der, HCERTSTORE* store) {
    *store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (*store == nullptr) return nullptr;
    PCCERT_CONTEXT wanted =
        ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (wanted == nullptr) return nullptr;
    PCCERT_CONTEXT found =
        ::CertFindCertificateInStore(*store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
    ::CertFreeCertificateContext(wanted);
    return found;
}

}  // namespace

ROBOT_TOOL(trustca, "FILE.der - trust a CA certificate in this Wine prefix") {
    if (args.size() != 1) return 2;
    const std::vector<BYTE> der = ReadCertificate(args[0]);
    if (der.empty()) return 1;
    HCERTSTORE store = ::CertOpenSystemStoreA(0, "ROOT");
    if (store == nullptr) return 1;
    const BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                          static_cast<DWORD>(der.size()),
                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    ::CertCloseStore(store, 0);
    return added ? 0 : 1;
}

ROBOT_TOOL(untrustca, "FILE.der - stop trusting a CA certificate added by trustca") {
    if (args.size() != 1) return 2;
    const std::vector<BYTE> der = ReadCertificate(args[0]);
    if (der.empty()) return 1;
    HCERTSTORE store = nullptr;
    PCCERT_CONTEXT found = FindInRoot(der, &store);
    // CertDeleteCertificateFromStore frees the context, deleted or not.
    const bool gone = found == nullptr ? store != nullptr : ::CertDeleteCertificateFromStore(found) != FALSE;
    if (store != nullptr) ::CertCloseStore(store, 0);
    return gone ? 0 : 1;
}

ROBOT_TOOL(trusted, "FILE.der - exit code 0 when the Root store holds the certificate") {
    if (args.size() != 1) return 2;
    const std::vector<BYTE> der = ReadCertificate(args[0]);
    if (der.empty()) return 2;
    HCERTSTORE store = nullptr;
    PCCERT_CONTEXT found = FindInRoot(der, &store);
    if (found != nullptr) ::CertFreeCertificateContext(found);
    if (store != nullptr) ::CertCloseStore(store, 0);
    return found != nullptr ? 0 : 1;
}
