#include "net/CTls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cctype>
#include <cstring>
#include <map>

namespace {

std::map<int, std::string>& Details()
{
    static std::map<int, std::string> s_details;
    return s_details;
}

bool IsAddress(const std::string& host)
{
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string NameText(X509_NAME* pName)
{
    if (!pName)
        return std::string();
    BIO* b = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(b, pName, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* p = nullptr;
    long n = BIO_get_mem_data(b, &p);
    std::string text(p, static_cast<std::size_t>(n > 0 ? n : 0));
    BIO_free(b);
    return text;
}

std::string TimeText(const ASN1_TIME* pTime)
{
    if (!pTime)
        return std::string();
    BIO* b = BIO_new(BIO_s_mem());
    ASN1_TIME_print(b, pTime);
    char* p = nullptr;
    long n = BIO_get_mem_data(b, &p);
    std::string text(p, static_cast<std::size_t>(n > 0 ? n : 0));
    BIO_free(b);
    return text;
}

// The code and the words for the first problem the chain check found.
int CodeFor(long lVerify)
{
    switch (lVerify) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TLS_E_EXPIRED;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TLS_E_NOT_YET_VALID;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TLS_E_HOST;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return TLS_E_ISSUER;
    default:
        return TLS_E_CERT;
    }
}

std::string LastOpenSslError()
{
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0)
        return std::string();
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

} // namespace

std::string TlsFailureDetail(int iError)
{
    auto it = Details().find(iError);
    return it == Details().end() ? std::string() : it->second;
}

void SetTlsFailureDetail(int iError, const std::string& detail) { Details()[iError] = detail; }

std::string NormalizeFingerprint(const std::string& text)
{
    std::string hex;
    for (char c : text) {
        if (c == ':' || c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::string();
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return hex.size() == 64 ? hex : std::string();
}

std::string FormatFingerprint(const unsigned char* pDigest, int iLen)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < iLen; ++i) {
        if (i)
            text += ':';
        text += kHex[pDigest[i] >> 4];
        text += kHex[pDigest[i] & 15];
    }
    return text;
}

CTlsSession::~CTlsSession()
{
    if (m_pSsl)
        SSL_free(m_pSsl); // frees both buffers
}

std::unique_ptr<CTlsSession> CTlsSession::Create(const TlsOptions& options, int& iError)
{
    iError = 0;
    if (!options.strPin.empty() && NormalizeFingerprint(options.strPin).empty()) {
        SetTlsFailureDetail(TLS_E_PIN, "the pinned fingerprint \"" + options.strPin +
                                           "\" is not a SHA-256 fingerprint (64 hex digits)");
        iError = TLS_E_PIN;
        return nullptr;
    }
    std::unique_ptr<CTlsSession> p(new CTlsSession);
    p->m_options = options;
    // A context per session: it reads the trust store as it is now.
    SSL_CTX* pCtx = SSL_CTX_new(TLS_client_method());
    if (!pCtx) {
        SetTlsFailureDetail(TLS_E_SETUP, LastOpenSslError());
        iError = TLS_E_SETUP;
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(pCtx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(pCtx);
    // The chain is checked during the handshake, but every problem is only
    // noted: the decision comes after it, with the certificate in hand.
    SSL_CTX_set_verify(pCtx, SSL_VERIFY_PEER,
                       reinterpret_cast<SSL_verify_cb>(&CTlsSession::VerifyCallback));
    p->m_pSsl = SSL_new(pCtx);
    SSL_CTX_free(pCtx); // the session holds its own reference
    if (!p->m_pSsl) {
        SetTlsFailureDetail(TLS_E_SETUP, LastOpenSslError());
        iError = TLS_E_SETUP;
        return nullptr;
    }
    SSL_set_app_data(p->m_pSsl, p.get());
    p->m_pIn = BIO_new(BIO_s_mem());
    p->m_pOut = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(p->m_pIn, -1); // empty means "more to come"
    SSL_set_bio(p->m_pSsl, p->m_pIn, p->m_pOut);
    SSL_set_connect_state(p->m_pSsl);
    const std::string& host = options.strHost;
    if (IsAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(p->m_pSsl), host.c_str());
    } else if (!host.empty()) {
        SSL_set_tlsext_host_name(p->m_pSsl, host.c_str());
        SSL_set1_host(p->m_pSsl, host.c_str());
    }
    return p;
}

int CTlsSession::VerifyCallback(int iOk, void* pStoreCtx)
{
    auto* pStore = static_cast<X509_STORE_CTX*>(pStoreCtx);
    auto* pSsl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(pStore, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* pSelf = pSsl ? static_cast<CTlsSession*>(SSL_get_app_data(pSsl)) : nullptr;
    if (!iOk && pSelf && pSelf->m_lFirstVerifyError == 0) {
        pSelf->m_lFirstVerifyError = X509_STORE_CTX_get_error(pStore);
        pSelf->m_iFirstErrorDepth = X509_STORE_CTX_get_error_depth(pStore);
    }
    return 1;
}

CTlsSession::Progress CTlsSession::Handshake(int& iError)
{
    iError = 0;
    if (m_bEstablished)
        return DONE;
    ERR_clear_error();
    int r = SSL_do_handshake(m_pSsl);
    if (r == 1) {
        iError = Verify();
        if (iError)
            return FAILED;
        m_bEstablished = true;
        return DONE;
    }
    int e = SSL_get_error(m_pSsl, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
        return MORE;
    std::string why = LastOpenSslError();
    SetTlsFailureDetail(TLS_E_HANDSHAKE, why.empty() ? "the handshake failed" : why);
    iError = TLS_E_HANDSHAKE;
    return FAILED;
}

int CTlsSession::Verify()
{
    X509* pCert = SSL_get1_peer_certificate(m_pSsl);
    if (!pCert) {
        SetTlsFailureDetail(TLS_E_CERT, "the server sent no certificate");
        return TLS_E_CERT;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(pCert, EVP_sha256(), digest, &n);
    X509_free(pCert);
    m_strFingerprint = FormatFingerprint(digest, static_cast<int>(n));
    std::string fp = "SHA-256 fingerprint " + m_strFingerprint;
    if (!m_options.strPin.empty()) {
        // A pinned certificate is the one accepted, whoever issued it.
        if (NormalizeFingerprint(m_strFingerprint) == NormalizeFingerprint(m_options.strPin))
            return 0;
        SetTlsFailureDetail(TLS_E_PIN,
                            "the server's certificate has " + fp + ", not the pinned one");
        return TLS_E_PIN;
    }
    long lVerify = m_lFirstVerifyError;
    if (lVerify == X509_V_OK)
        lVerify = SSL_get_verify_result(m_pSsl);
    if (lVerify == X509_V_OK)
        return 0;
    int iCode = CodeFor(lVerify);
    std::string what = X509_verify_cert_error_string(lVerify);
    if (iCode == TLS_E_HOST)
        what += " (wanted " + m_options.strHost + ")";
    SetTlsFailureDetail(iCode, what + "; " + fp);
    return iCode;
}

void CTlsSession::Feed(const char* p, int n)
{
    if (n > 0)
        BIO_write(m_pIn, p, n);
}

void CTlsSession::TakeOutput(std::string& out)
{
    char* p = nullptr;
    long n = BIO_get_mem_data(m_pOut, &p);
    if (n > 0) {
        out.append(p, static_cast<std::size_t>(n));
        (void)BIO_reset(m_pOut);
    }
}

bool CTlsSession::HasBufferedInput() const
{
    return SSL_pending(m_pSsl) > 0 || BIO_ctrl_pending(m_pIn) > 0;
}

int CTlsSession::Read(char* p, int n, int& iError, bool& bClosed)
{
    iError = 0;
    bClosed = false;
    ERR_clear_error();
    int r = SSL_read(m_pSsl, p, n);
    if (r > 0)
        return r;
    int e = SSL_get_error(m_pSsl, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
        return 0;
    if (e == SSL_ERROR_ZERO_RETURN) {
        bClosed = true;
        return 0;
    }
    std::string why = LastOpenSslError();
    SetTlsFailureDetail(TLS_E_PROTOCOL, why.empty() ? "a broken record" : why);
    iError = TLS_E_PROTOCOL;
    return -1;
}

int CTlsSession::Write(const char* p, int n, int& iError)
{
    iError = 0;
    ERR_clear_error();
    int r = SSL_write(m_pSsl, p, n);
    if (r > 0)
        return r;
    std::string why = LastOpenSslError();
    SetTlsFailureDetail(TLS_E_PROTOCOL, why.empty() ? "the record could not be written" : why);
    iError = TLS_E_PROTOCOL;
    return -1;
}

void CTlsSession::Shutdown()
{
    if (m_bEstablished) {
        ERR_clear_error();
        SSL_shutdown(m_pSsl);
        ERR_clear_error();
    }
}

TlsInfo CTlsSession::Info() const
{
    TlsInfo info;
    info.strProtocol = SSL_get_version(m_pSsl);
    info.strCipher = SSL_get_cipher_name(m_pSsl);
    X509* pCert = SSL_get1_peer_certificate(m_pSsl);
    if (pCert) {
        info.strSubject = NameText(X509_get_subject_name(pCert));
        info.strIssuer = NameText(X509_get_issuer_name(pCert));
        info.strNotAfter = TimeText(X509_get0_notAfter(pCert));
        X509_free(pCert);
    }
    info.strFingerprint = m_strFingerprint;
    return info;
}
