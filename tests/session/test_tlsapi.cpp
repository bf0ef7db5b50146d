// OpenSSL loaded on the first https:// probe: the library the program was
// built against has every function the probes call, and a library that
// cannot be loaded, or is not OpenSSL, is refused with the reason in words
// instead of leaving a probe to call through a missing function.
#include "session/tlsapi.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using session::LoadTlsApi;
using session::TTlsApi;

TEST(TlsApi, TheBuiltAgainstLibraryHasEveryFunctionAndOthersAreRefused)
{
    QTemporaryDir dir;
    const QString notALibrary = dir.filePath("libssl.so.3");
    {
        QFile f(notALibrary);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not an ELF file\n");
    }
    const struct {
        QString file;
        bool loads;
        QString reasonHas;  // part of the refusal's words
    } rows[] = {
        {session::TlsLibraryName(), true, {}},
        {QStringLiteral("libidlix-no-such-ssl.so.3"), false, QStringLiteral("libidlix-no-such-ssl.so.3 could not be loaded")},
        {notALibrary, false, QStringLiteral("could not be loaded")},
        // A real library, but not OpenSSL: the first function it lacks is named.
        {QStringLiteral("libz.so.1"), false, QStringLiteral("libz.so.1 has no ASN1_TIME_diff")},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.file.toStdString());
        TTlsApi api;
        QString error;
        EXPECT_EQ(LoadTlsApi(r.file, &api, &error), r.loads) << error.toStdString();
        EXPECT_TRUE(error.contains(r.reasonHas)) << error.toStdString();
        // A refused load leaves the table empty, never half filled.
        EXPECT_EQ(api.SSL_new != nullptr, r.loads);
        EXPECT_EQ(api.ASN1_TIME_diff != nullptr, r.loads);
    }
}

TEST(TlsApi, TheLoadedFunctionsWork)
{
    QString error;
    const TTlsApi *tls = session::Tls(&error);
    ASSERT_NE(tls, nullptr) << error.toStdString();
    EXPECT_EQ(session::Tls(nullptr), tls);  // loaded once
    // A context with the system's trust store, as the first probe makes it.
    SSL_CTX *ctx = tls->SSL_CTX_new(tls->TLS_client_method());
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(tls->SSL_CTX_set_default_verify_paths(ctx), 1);
    SSL *ssl = tls->SSL_new(ctx);
    ASSERT_NE(ssl, nullptr);
    EXPECT_EQ(tls->SSL_is_init_finished(ssl), 0);
    tls->SSL_free(ssl);
    tls->SSL_CTX_free(ctx);
    // The words of a verification code come from the library loaded.
    EXPECT_STREQ(tls->X509_verify_cert_error_string(X509_V_ERR_CERT_HAS_EXPIRED), "certificate has expired");
}
