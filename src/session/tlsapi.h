// OpenSSL for the https:// probes, loaded on the first probe rather than
// with the program: libssl and libcrypto cost a window's start-up time and
// memory that a session without https:// targets never uses. The table
// holds every OpenSSL function the probes call; nothing else in the program
// links them. (The headless service has them loaded already, through
// libcurl, and the load then only finds them.)
#pragma once

#include <QString>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace session {

#define IDLIX_TLS_FUNCTIONS(F)                                                                          \
    F(ASN1_TIME_diff) F(ASN1_TIME_free) F(ASN1_TIME_set) F(BIO_clear_flags) F(BIO_get_data)             \
    F(BIO_get_new_index) F(BIO_meth_new) F(BIO_meth_set_ctrl) F(BIO_meth_set_read)                      \
    F(BIO_meth_set_write) F(BIO_new) F(BIO_set_data) F(BIO_set_flags) F(BIO_set_init)                   \
    F(ERR_clear_error) F(ERR_peek_last_error) F(ERR_reason_error_string) F(OPENSSL_sk_num)               \
    F(OPENSSL_sk_value) F(SSL_CTX_free) F(SSL_CTX_new) F(SSL_CTX_set_default_verify_paths)             \
    F(SSL_CTX_set_verify) F(SSL_connect) F(SSL_ctrl) F(SSL_free) F(SSL_get0_param)                      \
    F(SSL_get0_verified_chain) F(SSL_get_error) F(SSL_get_peer_cert_chain) F(SSL_get_verify_result)    \
    F(SSL_get_version) F(SSL_is_init_finished) F(SSL_new) F(SSL_read) F(SSL_set1_host) F(SSL_set_bio)   \
    F(SSL_set_connect_state) F(SSL_shutdown) F(SSL_write) F(TLS_client_method)                           \
    F(X509_VERIFY_PARAM_set1_ip_asc) F(X509_get0_notAfter) F(X509_verify_cert_error_string)

// One pointer per function, named as OpenSSL names it.
struct TTlsApi {
#define IDLIX_TLS_MEMBER(name) decltype(&::name) name = nullptr;
    IDLIX_TLS_FUNCTIONS(IDLIX_TLS_MEMBER)
#undef IDLIX_TLS_MEMBER
};

// The library the program was built against, by its file name (libssl.so.3).
QString TlsLibraryName();

// Loads the library named 'file' (a name dlopen takes) and fills api with
// every function; false, with *error saying which part is missing, when the
// library cannot be loaded or lacks one of them. A library loaded stays
// loaded for the rest of the run.
bool LoadTlsApi(const QString &file, TTlsApi *api, QString *error);

// The program's table, loading TlsLibraryName() on the first call (from any
// thread, once); null, with *error, when it could not be loaded: every later
// call says the same.
const TTlsApi *Tls(QString *error);

} // namespace session
