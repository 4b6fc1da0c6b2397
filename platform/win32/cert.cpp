// win32 side of the server certificate's checks (cert.h). The certificate
// is checked by the program itself (manual validation): Wine never rejects
// one during the handshake, and its policy check alone misses a partial
// chain, so both the chain's trust status and the SSL policy (with the
// server name) must be clean. Real Windows then behaves the same way.
// Revocation is checked for the chain but its root (a root is revoked by
// removing it from the store): a revoked certificate is refused, a status
// that cannot be learnt (offline) lets the connection go on and is reported.
//
// Building the chain may go to the network: for an intermediate the server
// left out (its issuer's address in the certificate), root updates and
// revocation. No call of the chain engine can be interrupted, so the chain
// is built on a thread of its own, which the handshake waits for only as
// long as its time lasts and until the user stops it; a thread left behind
// ends once its own bounded retrievals do.
// The chain's URL retrieval time-out.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "cert.h"

#include <cstring>
#include <memory>

#include "platform/common.h"
#include "platform/net.h"

namespace plat {

namespace {

// The longest a chain may wait for the network when the handshake has no
// time-out of its own.
constexpr uint32_t kMaxRetrievalMs = 15000;
// A stop is looked for this often while the chain is built.
constexpr uint32_t kStopPollMs = 50;
// wininet.h's flag for the SSL policy: the name is checked elsewhere (an IP
// address, against the certificate's IP entries).
constexpr DWORD kIgnoreCommonName = 0x00001000;
// And for revocation, which the chain's status decides (Wine's policy
// otherwise reports an unknown status as CERT_E_REVOCATION_FAILURE before
// it looks at the name).
constexpr DWORD kIgnoreRevocation = 0x00000080;
// What the chain says when no CRL or OCSP answer came; then the status is
// unknown, not bad.
constexpr DWORD kRevocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

std::wstring Wide(const std::string& text) {
    std::wstring out;
    for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

// Whether the certificate lists the IPv4 address among its alternative
// names' IP entries.
bool CertificateHasIp(PCCERT_CONTEXT cert, uint32_t address) {
    PCERT_EXTENSION extension = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                                                    cert->pCertInfo->rgExtension);
    if (extension == nullptr) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
                std::memcmp(entry.IPAddress.pbData, &address, 4) == 0;
    }
    ::LocalFree(names);
    return found;
}

// Whether the certificate's authority information access names an OCSP
// responder (most name only where the issuer's certificate is).
bool NamesOcsp(const CERT_INFO* info) {
    PCERT_EXTENSION extension = ::CertFindExtension(szOID_AUTHORITY_INFO_ACCESS, info->cExtension, info->rgExtension);
    if (extension == nullptr) return false;
    CERT_AUTHORITY_INFO_ACCESS* access = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_AUTHORITY_INFO_ACCESS, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &access, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < access->cAccDescr && !found; ++i)
        found = std::strcmp(access->rgAccDescr[i].pszAccessMethod, szOID_PKIX_OCSP) == 0;
    ::LocalFree(access);
    return found;
}

// Whether a certificate of the chain (its root aside) names where its
// revocation can be learnt: a CRL distribution point or an OCSP responder.
// Without one "unknown" is all there ever is, and not worth a line.
bool ChainNamesRevocationSource(PCCERT_CHAIN_CONTEXT chain) {
    if (chain->cChain == 0) return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const DWORD count = simple->cElement > 1 ? simple->cElement - 1 : simple->cElement;
    for (DWORD i = 0; i < count; ++i) {
        const CERT_INFO* info = simple->rgpElement[i]->pCertContext->pCertInfo;
        if (::CertFindExtension(szOID_CRL_DIST_POINTS, info->cExtension, info->rgExtension) != nullptr ||
            NamesOcsp(info))
            return true;
    }
    return false;
}

// One chain building, shared by the thread that builds it and the one that
// waits for it; whichever lets go last frees it.
struct ChainJob {
    PCCERT_CONTEXT cert = nullptr;      // a duplicate of the server's
    HCERTCHAINENGINE engine = nullptr;  // with the bounded retrievals
    CERT_CHAIN_PARA para{};
    char serverAuth[sizeof szOID_PKIX_KP_SERVER_AUTH] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[1] = {serverAuth};
    PCCERT_CHAIN_CONTEXT chain = nullptr;  // the result
    DWORD error = 0;                       // CertGetCertificateChain's, on failure

    ~ChainJob() {
        if (chain != nullptr) ::CertFreeCertificateChain(chain);
        if (engine != nullptr) ::CertFreeCertificateChainEngine(engine);
        if (cert != nullptr) ::CertFreeCertificateContext(cert);
    }
};

// The thread's work; param is a heap-allocated shared_ptr to the job, its own.
DWORD WINAPI BuildChain(void* param) {
    const std::unique_ptr<std::shared_ptr<ChainJob>> held(static_cast<std::shared_ptr<ChainJob>*>(param));
    ChainJob& job = **held;
    if (!::CertGetCertificateChain(job.engine, job.cert, nullptr, job.cert->hCertStore, &job.para,
                                   CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                       CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                   nullptr, &job.chain))
        job.error = ::GetLastError();
    return 0;
}

// Builds the chain of cert within leftMs (kInfinite: no bound but the
// retrievals' own), ending the wait early when wake (may be null) is set.
// Every URL retrieval (a missing intermediate, a root update, revocation)
// is bounded by retrievalMs. On kOk *built holds the job, whose chain
// (null on failure, then *error is set) lives as long as it, with its
// engine; otherwise kTimeOut or kIoError (stopped) with *error set.
TlsStatus BuildChainWithin(PCCERT_CONTEXT cert, uint32_t leftMs, uint32_t retrievalMs, Wake* wake,
                           std::shared_ptr<ChainJob>* built, DWORD* error) {
    auto job = std::make_shared<ChainJob>();
    job->cert = ::CertDuplicateCertificateContext(cert);
    // The default engine bounds only revocation; an engine of its own bounds
    // the download of a missing intermediate too.
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config;
    config.dwUrlRetrievalTimeout = retrievalMs;
    if (!::CertCreateCertificateChainEngine(&config, &job->engine)) {
        *error = ::GetLastError();
        return TlsStatus::kUntrusted;
    }
    job->para.cbSize = sizeof job->para;
    job->para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    job->para.RequestedUsage.Usage.cUsageIdentifier = 1;
    job->para.RequestedUsage.Usage.rgpszUsageIdentifier = job->usages;
    // For revocation, the time counts for all of its URLs together.
    job->para.dwUrlRetrievalTimeout = retrievalMs;

    auto* param = new std::shared_ptr<ChainJob>(job);
    HANDLE thread = ::CreateThread(nullptr, 0, &BuildChain, param, 0, nullptr);
    if (thread == nullptr) {
        BuildChain(param);  // no thread to spare: built here, still bounded
    } else {
        const uint32_t started = TickCount();
        DWORD waited;
        for (;;) {
            const uint32_t elapsed = TickCount() - started;
            const uint32_t left = leftMs == kInfinite ? kInfinite : elapsed >= leftMs ? 0 : leftMs - elapsed;
            waited = ::WaitForSingleObject(thread, left < kStopPollMs ? left : kStopPollMs);
            if (waited != WAIT_TIMEOUT || left == 0 || IsWakeSet(wake)) break;
        }
        ::CloseHandle(thread);
        if (waited != WAIT_OBJECT_0) {
            const bool stopped = IsWakeSet(wake);
            *error = stopped ? WSAEINTR : ERROR_TIMEOUT;
            return stopped ? TlsStatus::kIoError : TlsStatus::kTimeOut;
        }
    }
    *error = job->error;
    *built = job;
    return TlsStatus::kOk;
}

}  // namespace

bool IsIpv4(const std::string& text) { return InetAddr(text.c_str()) != INADDR_NONE && !text.empty(); }

TlsStatus CheckCertificate(PCCERT_CONTEXT cert, const std::string& serverName, const std::string& pin, uint32_t leftMs,
                           Wake* wake, std::string* sha256, bool* revocationUnknown, int32_t* detail) {
    BYTE hash[32];
    DWORD length = sizeof hash;
    if (::CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, cert->pbCertEncoded, cert->cbCertEncoded, hash,
                                &length))
        *sha256 = HexDigits(hash, length, HexCase::kLower);
    if (!pin.empty()) return !sha256->empty() && *sha256 == pin ? TlsStatus::kOk : TlsStatus::kPinMismatch;

    // Without a bound an offline PC waits 15 s for each URL, outside every
    // deadline of the dialogue.
    const uint32_t retrievalMs = leftMs == kInfinite || leftMs > kMaxRetrievalMs ? kMaxRetrievalMs
                                 : leftMs == 0                                   ? 1
                                                                                 : leftMs;
    std::shared_ptr<ChainJob> job;
    DWORD error = 0;
    const TlsStatus built = BuildChainWithin(cert, leftMs, retrievalMs, wake, &job, &error);
    if (built != TlsStatus::kOk || job->chain == nullptr) {
        *detail = static_cast<int32_t>(error);
        return built != TlsStatus::kOk ? built : TlsStatus::kUntrusted;
    }
    PCCERT_CHAIN_CONTEXT chain = job->chain;

    const bool ip = IsIpv4(serverName);
    std::wstring wideName = Wide(serverName);
    HTTPSPolicyCallbackData https{};
    https.cbSize = sizeof https;
    https.dwAuthType = AUTHTYPE_SERVER;
    https.fdwChecks = kIgnoreRevocation | (ip ? kIgnoreCommonName : 0);
    https.pwszServerName = &wideName[0];
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policyPara.pvExtraPolicyPara = &https;
    CERT_CHAIN_POLICY_STATUS policy{};
    policy.cbSize = sizeof policy;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policy)) {
        *detail = static_cast<int32_t>(::GetLastError());
        return TlsStatus::kUntrusted;
    }
    // Wine's crypt32 fetches the CRL and says revoked or offline as Windows
    // does: the tests' submission server shows both. A chain that is bad
    // anyway is untrusted, whatever its CRL says.
    const DWORD chainError = chain->TrustStatus.dwErrorStatus;
    if (chainError & ~(kRevocationUnknown | CERT_TRUST_IS_REVOKED)) {
        *detail = static_cast<int32_t>(chainError);
        return TlsStatus::kUntrusted;
    }
    if (chainError & CERT_TRUST_IS_REVOKED) {
        *detail = static_cast<int32_t>(chainError);
        return TlsStatus::kRevoked;
    }
    if (chainError & kRevocationUnknown) *revocationUnknown = ChainNamesRevocationSource(chain);
    if (policy.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
        *detail = static_cast<int32_t>(policy.dwError);
        return TlsStatus::kNameMismatch;
    }
    if (policy.dwError != 0) {
        *detail = static_cast<int32_t>(policy.dwError);
        return TlsStatus::kUntrusted;
    }
    if (ip && !CertificateHasIp(cert, InetAddr(serverName.c_str()))) return TlsStatus::kNameMismatch;
    return TlsStatus::kOk;
}

}  // namespace plat
