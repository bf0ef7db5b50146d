#include "service/reflectorservice.h"

#include "config/commandline.h"
#include "config/optionsfile.h"
#include "idletimer/hostport.h"
#include "idletimer/reflector.h"
#include "platform/appdir.h"
#include "platform/logstream.h"
#include "platform/quitsignals.h"
#include "platform/version.h"
#include "service/serviceargs.h"
#include "service/serviceconfig.h"
#include "service/servicelog.h"
#include "service/systemdnotifier.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace service {

namespace {

// ADDRESS must be an address of this machine (no name: a name could give
// another address at each start); an empty one listens on every address.
bool ListenAt(const QString &text, platform::IpAddress *address, std::uint16_t *port, QString *error)
{
    QString host;
    *port = idletimer::kReflectorPort;
    if (!idletimer::SplitHostPort(text, &host, port, error))
        return false;
    if (host.isEmpty()) {
        *address = platform::IpAddress{};
        return true;
    }
    platform::IpAddress a;
    const std::string h = host.toStdString();
    if (platform::ParseIPv6(h, a) && !a.IsLinkLocal()) {
        *address = a;
        return true;
    }
    if (host.count(QLatin1Char('.')) == 3 && platform::InetAddr(h) != 0xffffffffu) {
        *address = platform::IpAddress::V4(platform::InetAddr(h));
        return true;
    }
    *error = QStringLiteral("'%1': not an IPv4 or IPv6 address of this machine").arg(host);
    return false;
}

class TReflectorService : public QObject {
public:
    TReflectorService(const TServiceLog &log, const QByteArray &key) : log_(log), key_(key)
    {
        reflector_ = new idletimer::TReflector(key_, this);
        reflector_->OnLog = [this](const QString &text) { log_.Write(TLogLevel::Info, text); };
        notifier_ = new TSystemdNotifier(this);
        notifier_->OnError = [this](const QString &text) { log_.Write(TLogLevel::Warning, text); };
        signals_ = new platform::TQuitSignals(this);
        signals_->OnQuit = [this](int) {
            const QString text = QStringLiteral("Stopping (%1)").arg(Status());
            log_.Write(TLogLevel::Notice, text);
            notifier_->Stopping(text);
            QCoreApplication::exit(kExitOk);
        };
        status_ = new QTimer(this);
        connect(status_, &QTimer::timeout, this, [this] { notifier_->Status(Status()); });
    }

    int Start(const platform::IpAddress &address, std::uint16_t port)
    {
        QString error;
        bool inUse = false;
        bool ok = false;
        platform::IpAddress at = address;
        if (!address.Valid()) {
            // Every address: IPv6's wildcard takes IPv4 too where the system
            // allows it, else IPv4's alone.
            platform::ParseIPv6("::", at);
            ok = reflector_->Listen(at, port, &error, &inUse);
            if (!ok && !inUse) {
                delete reflector_;
                reflector_ = new idletimer::TReflector(key_, this);
                at = platform::IpAddress::V4(0);
                ok = reflector_->Listen(at, port, &error, &inUse);
            }
        } else {
            ok = reflector_->Listen(at, port, &error, &inUse);
        }
        if (!ok) {
            log_.Write(TLogLevel::Error, QStringLiteral("Cannot listen on port %1: %2").arg(port).arg(error));
            return inUse ? kExitFailure : kExitConfig;
        }
        const QString where = address.Valid() ? QString::fromStdString(platform::AddressText(address))
                                              : QStringLiteral("every address");
        const QString text = QStringLiteral("Reflector on %1, UDP and TCP port %2").arg(where).arg(reflector_->Port());
        log_.Write(TLogLevel::Notice, text);
        signals_->SetWatching(true);
        notifier_->Ready(text);
        status_->start(60'000);
        return kExitOk;
    }

private:
    QString Status() const
    {
        const auto &c = reflector_->Counts();
        return QStringLiteral("%1 requests, %2 answered, %3 refused, %4 bytes in, %5 bytes out, %6 waiting")
            .arg(c.Received)
            .arg(c.Accepted)
            .arg(c.Refused)
            .arg(c.BytesIn)
            .arg(c.BytesOut)
            .arg(reflector_->Waiting());
    }

    const TServiceLog &log_;
    QByteArray key_;
    idletimer::TReflector *reflector_ = nullptr;
    TSystemdNotifier *notifier_ = nullptr;
    platform::TQuitSignals *signals_ = nullptr;
    QTimer *status_ = nullptr;
};

} // namespace

int RunReflector(const config::TCommandLine &line, int argc, char **argv)
{
    platform::IgnoreBrokenPipe();
    QCoreApplication app(argc, argv);
    const TServiceLog log = TServiceLog::Stderr();
    auto fail = [&](int code, const QString &why) {
        log.Write(TLogLevel::Error, why);
        return code;
    };
    platform::IpAddress address;
    std::uint16_t port = 0;
    QString error;
    if (!ListenAt(line.Arguments.value(0), &address, &port, &error))
        return fail(kExitConfig, QStringLiteral("Reflector address %1").arg(error));
    if (!line.DataDir.isEmpty()) {
        if (const TServiceProblem p = CheckDataFolder(line.DataDir, QString()))
            return fail(p.Code, p.Reason);
        platform::UseDataDir(line.DataDir);
    }
    config::TOptions options;
    config::LoadOptions(config::SettingsPath(), options);
    if (const QString problem = idletimer::KeyProblem(options.Reflector.Key); !problem.isEmpty())
        return fail(kExitConfig, QStringLiteral("Reflector not started: %1 (%2)").arg(problem, config::SettingsPath()));

    TReflectorService service(log, idletimer::KeyBytes(options.Reflector.Key));
    if (const int code = service.Start(address, port); code != kExitOk)
        return code;
    return QCoreApplication::exec();
}

} // namespace service
