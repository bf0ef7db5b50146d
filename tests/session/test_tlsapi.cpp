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
        // Half of it: libcrypto alone has the first functions, not libssl's.
        {QStringLiteral("libcrypto.so.3"), false, QStringLiteral("libcrypto.so.3 has no SSL_CTX_free")},
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
    // The program's own table is loaded once; the probes over the test
    // network (test_httpstransport_netns) call through it.
    QString error;
    const TTlsApi *tls = session::Tls(&error);
    ASSERT_NE(tls, nullptr) << error.toStdString();
    EXPECT_EQ(session::Tls(nullptr), tls);
}
