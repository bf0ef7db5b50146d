#include "session/tlsapi.h"

#include <QLibrary>

#include <mutex>

namespace session {

QString TlsLibraryName()
{
    // OpenSSL keeps the major version as the soname's since 3.0.
    return QStringLiteral("libssl.so.%1").arg(OPENSSL_VERSION_MAJOR);
}

bool LoadTlsApi(const QString &file, TTlsApi *api, QString *error)
{
    // libssl's handle also finds libcrypto's functions: dlsym searches the
    // libraries a library brought with it.
    QLibrary library(file);
    if (!library.load()) {
        if (error)
            *error = QStringLiteral("%1 could not be loaded (%2)").arg(file, library.errorString());
        return false;
    }
    TTlsApi loaded;
#define IDLIX_TLS_RESOLVE(name)                                                                 \
    loaded.name = reinterpret_cast<decltype(loaded.name)>(library.resolve(#name));             \
    if (!loaded.name) {                                                                          \
        if (error)                                                                               \
            *error = QStringLiteral("%1 has no %2").arg(file, QLatin1String(#name));            \
        return false;                                                                            \
    }
    IDLIX_TLS_FUNCTIONS(IDLIX_TLS_RESOLVE)
#undef IDLIX_TLS_RESOLVE
    *api = loaded;
    return true;  // never unloaded: the connections and the context made with it live on
}

const TTlsApi *Tls(QString *error)
{
    static std::once_flag once;
    static TTlsApi api;
    static bool loaded = false;
    static QString why;
    std::call_once(once, [] { loaded = LoadTlsApi(TlsLibraryName(), &api, &why); });
    if (!loaded && error)
        *error = why;
    return loaded ? &api : nullptr;
}

} // namespace session
