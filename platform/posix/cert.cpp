// posix side of the server certificate's checks (cert.h). OpenSSL verifies
// the chain against the trust store and the name during the handshake
// without stopping it (SSL_VERIFY_NONE); the result is read afterwards, so
// that a pin can replace it and each cause is told apart. OpenSSL fetches
// no CRL itself: revocation is checked here.
#include "cert.h"

#include <arpa/inet.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/http.h>
#include <openssl/x509v3.h>

#include "platform/common.h"

namespace plat {

namespace {

// Whether text is a dotted IPv4 (or an IPv6) address rather than a name.
bool IsIpAddress(const std::string& text) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, text.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// The longest a CRL may take to come. Short: OpenSSL retries a refused
// connection until its time-out, so a server whose CRL host is down costs
// this much each time.
constexpr uint32_t kMaxCrlMs = 3000;
// A CRL larger than this is no CRL for a mail server's certificate.
constexpr size_t kMaxCrlSize = 1024 * 1024;

// The first http URL among the certificate's CRL distribution points.
std::string CrlUrl(X509* cert) {
    std::string url;
    auto* points =
        static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr));
    for (int i = 0; points != nullptr && i < sk_DIST_POINT_num(points) && url.empty(); ++i) {
        const DIST_POINT_NAME* name = sk_DIST_POINT_value(points, i)->distpoint;
        if (name == nullptr || name->type != 0) continue;
        for (int j = 0; j < sk_GENERAL_NAME_num(name->name.fullname) && url.empty(); ++j) {
            const GENERAL_NAME* entry = sk_GENERAL_NAME_value(name->name.fullname, j);
            if (entry->type != GEN_URI) continue;
            const ASN1_IA5STRING* uri = entry->d.uniformResourceIdentifier;
            const std::string text(reinterpret_cast<const char*>(uri->data), static_cast<size_t>(uri->length));
            if (text.compare(0, 7, "http://") == 0) url = text;
        }
    }
    CRL_DIST_POINTS_free(points);
    return url;
}

// OpenSSL fetches no CRL itself: the one the server certificate names is
// fetched over HTTP (never through a proxy) within leftMs and checked with
// the issuer's key. Only the server certificate is checked: it is what a
// CA revokes in practice, and the intermediates' CRLs would cost one
// fetch each. No distribution point: kOk, nothing to report.
TlsStatus CheckRevocation(SSL* ssl, X509* cert, uint32_t leftMs, bool* unknown) {
    const std::string url = CrlUrl(cert);
    if (url.empty()) return TlsStatus::kOk;
    STACK_OF(X509)* chain = SSL_get0_verified_chain(ssl);
    X509* issuer = chain != nullptr && sk_X509_num(chain) > 1 ? sk_X509_value(chain, 1) : nullptr;
    const uint32_t ms = leftMs > kMaxCrlMs ? kMaxCrlMs : leftMs;
    BIO* body = issuer == nullptr || ms == 0 ? nullptr
                                             : OSSL_HTTP_get(url.c_str(), "", nullptr, nullptr, nullptr, nullptr,
                                                             nullptr, 0, nullptr, nullptr, 1, kMaxCrlSize,
                                                             static_cast<int>((ms + 999) / 1000));
    X509_CRL* crl = body != nullptr ? d2i_X509_CRL_bio(body, nullptr) : nullptr;
    BIO_free(body);
    ERR_clear_error();
    TlsStatus status = TlsStatus::kOk;
    X509_REVOKED* entry = nullptr;
    if (crl == nullptr || X509_CRL_verify(crl, X509_get0_pubkey(issuer)) != 1) {
        *unknown = true;
    } else if (X509_CRL_get0_by_cert(crl, &entry, cert) == 1) {
        status = TlsStatus::kRevoked;
    }
    X509_CRL_free(crl);
    return status;
}

}  // namespace

void ExpectServerName(SSL* ssl, const std::string& serverName) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (IsIpAddress(serverName)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, serverName.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, serverName.c_str());
        X509_VERIFY_PARAM_set1_host(param, serverName.c_str(), 0);
    }
}

TlsStatus CheckCertificate(SSL* ssl, const std::string& pin, uint32_t leftMs, std::string* sha256,
                           bool* revocationUnknown, int32_t* detail) {
    X509* cert = SSL_get1_peer_certificate(ssl);
    if (cert == nullptr) return TlsStatus::kUntrusted;
    TlsStatus status = TlsStatus::kOk;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length)) *sha256 = HexDigits(digest, length, HexCase::kLower);
    if (!pin.empty()) {
        if (sha256->empty() || *sha256 != pin) status = TlsStatus::kPinMismatch;
    } else {
        const long result = SSL_get_verify_result(ssl);
        *detail = static_cast<int32_t>(result);
        if (result == X509_V_ERR_HOSTNAME_MISMATCH || result == X509_V_ERR_IP_ADDRESS_MISMATCH) {
            status = TlsStatus::kNameMismatch;
        } else if (result != X509_V_OK) {
            status = TlsStatus::kUntrusted;
        } else {
            status = CheckRevocation(ssl, cert, leftMs, revocationUnknown);
        }
    }
    X509_free(cert);
    return status;
}

}  // namespace plat
