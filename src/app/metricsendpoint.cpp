#include "app/metricsendpoint.h"

#include "app/cmdline.h"
#include "config/options.h"
#include "service/metricsaddress.h"
#include "service/metricsserver.h"
#include "session/antiidlesession.h"
#include "shell/shellapi.h"

TMetricsEndpoint::TMetricsEndpoint(IShell &shell, TAntiIdleSession &engine)
    : shell_(shell), engine_(engine), metrics_(QString::fromLatin1(IdlixVersion))
{
    engine_.AddObserver(&metrics_);
    metrics_.OnChange = [this] {
        if (server_)
            server_->Publish(metrics_.Render());
    };
    shell_.WatchPreferences([this] { Apply(); });
    Apply();
}

TMetricsEndpoint::~TMetricsEndpoint()
{
    engine_.RemoveObserver(&metrics_);
}

void TMetricsEndpoint::Apply()
{
    const QString wanted = shell_.Options().Service.MetricsAddress.trimmed();
    if (wanted == address_ && (server_ || wanted.isEmpty()))
        return;
    server_.reset();
    address_ = wanted;
    if (wanted.isEmpty())
        return;
    service::TListenAddress at;
    QString error;
    if (!service::ParseListenAddress(wanted, &at, &error)) {
        shell_.ShowMessage(QStringLiteral("Metrics are not served: ") + error);
        return;
    }
    auto server = std::make_unique<service::TMetricsServer>();
    server->Publish(metrics_.Render());
    if (!server->Listen(at, &error)) {
        shell_.ShowMessage(QStringLiteral("Metrics cannot be served at %1: %2").arg(at.Text(), error));
        return;
    }
    server_ = std::move(server);
}
