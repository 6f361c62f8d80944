// Transport security for stream sockets: one TLS client session on memory
// buffers, so that the socket keeps doing all reads and writes itself on the
// event loop.  Certificates are checked against the system's trust store
// (OpenSSL's default paths, which honour SSL_CERT_FILE and SSL_CERT_DIR) and
// the host name; a pinned SHA-256 fingerprint replaces that check for a
// server with a certificate of its own.
#pragma once

#include <memory>
#include <string>

// Error codes of the secure layer, next to the socket codes (texts in
// WinsockError.cpp).  The detail of the last failure (with the certificate's
// fingerprint) is kept for the error text.
enum : int {
    TLS_E_FIRST = 12001,
    TLS_E_HANDSHAKE = 12001,     // no common protocol, a broken handshake
    TLS_E_EXPIRED = 12002,       // the certificate has expired
    TLS_E_NOT_YET_VALID = 12003, // the certificate is not valid yet
    TLS_E_HOST = 12004,          // issued for another host name
    TLS_E_ISSUER = 12005,        // the issuer is not trusted (or self-signed)
    TLS_E_PIN = 12006,           // not the pinned fingerprint
    TLS_E_CLOSED = 12007,        // the server closed during the handshake
    TLS_E_NOT_OFFERED = 12008,   // the server does not offer encryption
    TLS_E_CERT = 12009,          // any other certificate problem
    TLS_E_PROTOCOL = 12010,      // a broken record on an encrypted connection
    TLS_E_SETUP = 12011,         // the secure layer could not be set up
    TLS_E_LAST = 12011,
};

// The failure detail for a code (the reason and the fingerprint), "" when
// the last failure of that code left none.
std::string TlsFailureDetail(int iError);
void SetTlsFailureDetail(int iError, const std::string& detail);

// "ab:CD:01..." or "abcd01..." (64 hex digits) to lower-case hex without
// separators; "" when it is no SHA-256 fingerprint.
std::string NormalizeFingerprint(const std::string& text);
// 32 bytes as "AB:CD:...".
std::string FormatFingerprint(const unsigned char* pDigest, int iLen);

struct TlsOptions {
    std::string strHost; // the name (or address) the certificate must carry
    std::string strPin;  // pinned fingerprint in any accepted form, or ""
};

// What the tool shows about an established session.
struct TlsInfo {
    std::string strProtocol, strCipher, strSubject, strIssuer, strNotAfter, strFingerprint;
};

struct ssl_st;
struct bio_st;

class CTlsSession {
public:
    ~CTlsSession();
    CTlsSession(const CTlsSession&) = delete;
    CTlsSession& operator=(const CTlsSession&) = delete;

    // Null with the error in iError (TLS_E_SETUP, or TLS_E_PIN for a pin
    // that is no fingerprint).
    static std::unique_ptr<CTlsSession> Create(const TlsOptions& options, int& iError);

    enum Progress { DONE, MORE, FAILED };
    // Runs the handshake as far as the buffered input allows; DONE only when
    // the certificate passed.  On FAILED iError holds the reason.
    Progress Handshake(int& iError);
    bool Handshaking() const { return !m_bEstablished; }

    // Ciphertext from the network.
    void Feed(const char* p, int n);
    // Ciphertext for the network, appended to out.
    void TakeOutput(std::string& out);
    // Plaintext or ciphertext still waiting inside.
    bool HasBufferedInput() const;

    // > 0 bytes; 0 with iError 0 when more ciphertext is needed, or when the
    // server closed the session (bClosed); < 0 with iError on a failure.
    int Read(char* p, int n, int& iError, bool& bClosed);
    // Encrypts up to n bytes: the count taken, or < 0 with iError.
    int Write(const char* p, int n, int& iError);
    // Queues the closing alert (its bytes come out of TakeOutput).
    void Shutdown();

    TlsInfo Info() const;
    const std::string& Fingerprint() const { return m_strFingerprint; }

private:
    CTlsSession() = default;
    int Verify();
    static int VerifyCallback(int iOk, void* pStoreCtx);

    ssl_st* m_pSsl = nullptr;
    bio_st* m_pIn = nullptr;  // owned by m_pSsl
    bio_st* m_pOut = nullptr; // owned by m_pSsl
    TlsOptions m_options;
    bool m_bEstablished = false;
    long m_lFirstVerifyError = 0; // the first problem the chain check met
    int m_iFirstErrorDepth = 0;
    std::string m_strFingerprint; // "AB:CD:..." of the server's certificate
};
