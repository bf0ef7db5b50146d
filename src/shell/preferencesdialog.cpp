#include "shell/preferencesdialog.h"

#include "platform/appdir.h"
#include "platform/boundedread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QSpinBox *MakeRangeSpin(const QString &name, config::TRange range, int value, const QString &suffix)
{
    auto *spin = new QSpinBox;
    spin->setObjectName(name);
    spin->setRange(range.Min, range.Max);
    spin->setValue(value);
    spin->setSuffix(suffix);
    return spin;
}

// A combo box of (caption, value) items with 'value' selected.
QComboBox *MakeChoice(const QString &name, const QList<QPair<QString, int>> &items, int value)
{
    auto *combo = new QComboBox;
    combo->setObjectName(name);
    for (const auto &[caption, data] : items)
        combo->addItem(caption, data);
    combo->setCurrentIndex(std::max(0, int(combo->findData(value))));
    return combo;
}

QLabel *MakeNote(const QString &text)
{
    auto *note = new QLabel(text);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    return note;
}

} // namespace

TPreferencesDialog::TPreferencesDialog(const config::TOptions &o, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PreferencesDialog"));
    setWindowTitle(QStringLiteral("Preferences"));
    auto *layout = new QVBoxLayout(this);
    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("Tabs"));
    // Every subject's tab in sight: the dialog grows to the tab bar rather
    // than hiding the last tabs behind scroll arrows.
    Tabs->setUsesScrollButtons(false);
    layout->addWidget(Tabs);

    auto *window = new QFormLayout(AddTab(QStringLiteral("tab_PrefWindow"), QStringLiteral("Window")));
    cb_PrefScale = MakeChoice(QStringLiteral("cb_PrefScale"),
                              {{QStringLiteral("Automatic"), config::TWindowOptions::Automatic},
                               {QStringLiteral("100 %"), config::TWindowOptions::Scale100},
                               {QStringLiteral("150 %"), config::TWindowOptions::Scale150},
                               {QStringLiteral("200 %"), config::TWindowOptions::Scale200}},
                              o.Window.Scale);
    window->addRow(QStringLiteral("Window size:"), cb_PrefScale);
    window->addRow(MakeNote(QStringLiteral("Automatic follows the screen's pixel density. "
                                           "The window takes its new size at the next start.")));

    auto *history = new QFormLayout(AddTab(QStringLiteral("tab_PrefHistory"), QStringLiteral("History")));
    se_PrefDownAfter = MakeRangeSpin(QStringLiteral("se_PrefDownAfter"),
                                     config::THistoryOptions::DownAfterRange, o.History.DownAfter,
                                     QStringLiteral(" failed probes"));
    se_PrefUpAfter = MakeRangeSpin(QStringLiteral("se_PrefUpAfter"),
                                   config::THistoryOptions::UpAfterRange, o.History.UpAfter,
                                   QStringLiteral(" successful probes"));
    se_PrefKeepDays = MakeRangeSpin(QStringLiteral("se_PrefKeepDays"),
                                    config::THistoryOptions::KeepDaysRange, o.History.KeepDays,
                                    QStringLiteral(" days"));
    history->addRow(QStringLiteral("Line is down after:"), se_PrefDownAfter);
    history->addRow(QStringLiteral("Line is up again after:"), se_PrefUpAfter);
    history->addRow(QStringLiteral("Keep the history for:"), se_PrefKeepDays);

    auto *notify = new QVBoxLayout(AddTab(QStringLiteral("tab_PrefNotify"), QStringLiteral("Notifications")));
    cb_PrefNotify = new QCheckBox(QStringLiteral("Tell me when the connection drops and when it is back"));
    cb_PrefNotify->setObjectName(QStringLiteral("cb_PrefNotify"));
    cb_PrefNotify->setChecked(o.Notify.Enabled);
    cb_PrefPauseMetered = new QCheckBox(QStringLiteral("Pause probes on metered connections"));
    cb_PrefPauseMetered->setObjectName(QStringLiteral("cb_PrefPauseMetered"));
    cb_PrefPauseMetered->setChecked(o.Notify.PauseOnMetered);
    notify->addWidget(cb_PrefNotify);
    notify->addWidget(cb_PrefPauseMetered);
    notify->addStretch();

    auto *network = new QFormLayout(AddTab(QStringLiteral("tab_PrefNetwork"), QStringLiteral("Network")));
    cb_PrefFamily = MakeChoice(QStringLiteral("cb_PrefFamily"),
                               {{QStringLiteral("Automatic"), config::TNetworkOptions::Automatic},
                                {QStringLiteral("IPv4 only"), config::TNetworkOptions::IPv4Only},
                                {QStringLiteral("IPv6 only"), config::TNetworkOptions::IPv6Only}},
                               o.Network.AddressFamily);
    network->addRow(QStringLiteral("Address family:"), cb_PrefFamily);

    auto *keepAlive = new QFormLayout(AddTab(QStringLiteral("tab_PrefKeepAlive"), QStringLiteral("Keep-alive")));
    cb_PrefInterval = MakeChoice(QStringLiteral("cb_PrefInterval"),
                                 {{QStringLiteral("as set in the anti-idle options"), config::TKeepAliveOptions::AsSet},
                                  {QStringLiteral("from the idle timer measured on this network"),
                                   config::TKeepAliveOptions::Measured}},
                                 o.KeepAlive.IntervalFrom);
    keepAlive->addRow(QStringLiteral("Probe interval:"), cb_PrefInterval);
    keepAlive->addRow(MakeNote(QStringLiteral(
        "Measured: every 0.8 times the shortest idle timer found on the network in use (Tools > "
        "Find Idle Timer...), at least 10 s; as set where none was measured.")));
    cb_PrefSkipBusy = new QCheckBox(QStringLiteral("Skip a probe when the line carried traffic since the last one"));
    cb_PrefSkipBusy->setObjectName(QStringLiteral("cb_PrefSkipBusy"));
    cb_PrefSkipBusy->setChecked(o.KeepAlive.SkipWhenBusy);
    keepAlive->addRow(cb_PrefSkipBusy);
    keepAlive->addRow(MakeNote(QStringLiteral(
        "Other traffic keeps the line's own idle timer alive, but a NAT or firewall keeps a timer per "
        "connection: it does not keep Idlix's own mapping alive. Leave this off behind a NAT whose "
        "timer you are beating.")));

    auto *probeAll = new QFormLayout(AddTab(QStringLiteral("tab_PrefProbeAll"), QStringLiteral("Targets")));
    cb_PrefProbeAll = new QCheckBox(QStringLiteral("Probe every server of the list once per interval"));
    cb_PrefProbeAll->setObjectName(QStringLiteral("cb_PrefProbeAll"));
    cb_PrefProbeAll->setChecked(o.ProbeAll.Enabled);
    probeAll->addRow(cb_PrefProbeAll);
    // A value the file holds out of range (written by hand) shows as the
    // nearest the field takes.
    se_PrefProbeAllInterval = MakeRangeSpin(QStringLiteral("se_PrefProbeAllInterval"),
                                            config::TProbeAllOptions::IntervalRange,
                                            config::TProbeAllOptions::IntervalRange.Clamp(o.ProbeAll.Interval),
                                            QStringLiteral(" s"));
    se_PrefProbeAllInterval->setEnabled(o.ProbeAll.Enabled);
    connect(cb_PrefProbeAll, &QCheckBox::toggled, se_PrefProbeAllInterval, &QWidget::setEnabled);
    probeAll->addRow(QStringLiteral("Interval:"), se_PrefProbeAllInterval);
    probeAll->addRow(MakeNote(QStringLiteral(
        "Rather than one probe per tick to each server in turn, each server of the list (or the host) is "
        "probed once per interval, the servers spread evenly over it. For watching several targets at once; "
        "the anti-idle frequency does not apply. Takes effect at the next start of the session.")));
    auto *diagnosis = new QFormLayout(AddTab(QStringLiteral("tab_PrefDiagnosis"), QStringLiteral("Diagnosis")));
    diagnosis->addRow(MakeNote(QStringLiteral(
        "When the line goes down, Idlix asks the router, the hops past it and the servers it probes why. "
        "It asks no one else unless you name them here.")));
    edt_PrefAnchors = new QLineEdit(config::AnchorsText(o.Diagnosis.Anchors));
    edt_PrefAnchors->setObjectName(QStringLiteral("edt_PrefAnchors"));
    edt_PrefAnchors->setPlaceholderText(QStringLiteral("none (up to three hosts that answer pings)"));
    edt_PrefCheckUrl = new QLineEdit(o.Diagnosis.CheckUrl);
    edt_PrefCheckUrl->setObjectName(QStringLiteral("edt_PrefCheckUrl"));
    edt_PrefCheckUrl->setPlaceholderText(QStringLiteral("none (an http:// page whose reply you know)"));
    edt_PrefCheckExpect = new QLineEdit(o.Diagnosis.CheckExpect);
    edt_PrefCheckExpect->setObjectName(QStringLiteral("edt_PrefCheckExpect"));
    edt_PrefCheckExpect->setPlaceholderText(QStringLiteral("text its reply holds"));
    diagnosis->addRow(QStringLiteral("Anchor hosts:"), edt_PrefAnchors);
    diagnosis->addRow(QStringLiteral("Check page:"), edt_PrefCheckUrl);
    diagnosis->addRow(QStringLiteral("Its reply holds:"), edt_PrefCheckExpect);
    lbl_PrefDiagnosisProblem = MakeNote(QString());
    lbl_PrefDiagnosisProblem->setObjectName(QStringLiteral("lbl_PrefDiagnosisProblem"));
    diagnosis->addRow(lbl_PrefDiagnosisProblem);

    auto *service = new QFormLayout(AddTab(QStringLiteral("tab_PrefService"), QStringLiteral("Service")));
    edt_PrefMetrics = new QLineEdit(o.Service.MetricsAddress);
    edt_PrefMetrics->setObjectName(QStringLiteral("edt_PrefMetrics"));
    edt_PrefMetrics->setPlaceholderText(QStringLiteral("off (for example 127.0.0.1:9417)"));
    service->addRow(QStringLiteral("Metrics address:"), edt_PrefMetrics);
    auto line = [](const char *name, const QString &text, const char *placeholder) {
        auto *edit = new QLineEdit(text);
        edit->setObjectName(QLatin1String(name));
        edit->setPlaceholderText(QLatin1String(placeholder));
        return edit;
    };
    edt_PrefRemoteWrite = line("edt_PrefRemoteWrite", o.Service.RemoteWrite,
                               "off (for example https://prometheus.example/api/v1/write)");
    edt_PrefNode = line("edt_PrefNode", o.Service.Node, "the host name");
    edt_PrefLabels = line("edt_PrefLabels", o.Service.Labels, "none (for example site=shop,line=mobile)");
    service->addRow(QStringLiteral("Remote write to:"), edt_PrefRemoteWrite);
    service->addRow(QStringLiteral("Node name:"), edt_PrefNode);
    service->addRow(QStringLiteral("Labels:"), edt_PrefLabels);
    // What the service last said of its pushing (it writes one line there).
    const platform::TBoundedText state =
        platform::ReadBoundedText(platform::DataFile(QStringLiteral("remotewrite.status")), {4096, 1, 1024});
    lbl_PrefRemoteState = MakeNote(state.status == platform::TReadStatus::Read && !state.text.trimmed().isEmpty()
                                       ? QStringLiteral("Service: %1").arg(QString::fromUtf8(state.text.trimmed()))
                                       : QStringLiteral("Service: no remote write yet."));
    lbl_PrefRemoteState->setObjectName(QStringLiteral("lbl_PrefRemoteState"));
    service->addRow(lbl_PrefRemoteState);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("PrefButtons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QWidget *TPreferencesDialog::AddTab(const QString &name, const QString &title)
{
    auto *page = new QWidget;
    page->setObjectName(name);
    Tabs->addTab(page, title);
    return page;
}

void TPreferencesDialog::Apply(config::TOptions &o) const
{
    o.Window.Scale = cb_PrefScale->currentData().toInt();
    o.History.DownAfter = se_PrefDownAfter->value();
    o.History.UpAfter = se_PrefUpAfter->value();
    o.History.KeepDays = se_PrefKeepDays->value();
    o.Notify.Enabled = cb_PrefNotify->isChecked();
    o.Notify.PauseOnMetered = cb_PrefPauseMetered->isChecked();
    o.Network.AddressFamily = cb_PrefFamily->currentData().toInt();
    o.Service.MetricsAddress = edt_PrefMetrics->text().trimmed();
    o.Service.RemoteWrite = edt_PrefRemoteWrite->text().trimmed();
    o.Service.Node = edt_PrefNode->text().trimmed();
    o.Service.Labels = edt_PrefLabels->text().trimmed();
    o.KeepAlive.IntervalFrom = cb_PrefInterval->currentData().toInt();
    o.KeepAlive.SkipWhenBusy = cb_PrefSkipBusy->isChecked();
    o.ProbeAll.Enabled = cb_PrefProbeAll->isChecked();
    o.ProbeAll.Interval = se_PrefProbeAllInterval->value();
    // Refused values (Problem) keep what was set.
    if (Problem().isEmpty()) {
        o.Diagnosis.Anchors = config::ParseAnchors(edt_PrefAnchors->text(), nullptr).value_or(QStringList());
        o.Diagnosis.CheckUrl = edt_PrefCheckUrl->text().trimmed();
        o.Diagnosis.CheckExpect = o.Diagnosis.CheckUrl.isEmpty() ? QString() : edt_PrefCheckExpect->text();
    }
}

QString TPreferencesDialog::Problem() const
{
    QString error;
    if (!config::ParseAnchors(edt_PrefAnchors->text(), &error))
        return error;
    return config::CheckProblem(edt_PrefCheckUrl->text(), edt_PrefCheckExpect->text());
}

void TPreferencesDialog::accept()
{
    const QString problem = Problem();
    lbl_PrefDiagnosisProblem->setText(problem);
    if (!problem.isEmpty()) {
        Tabs->setCurrentWidget(lbl_PrefDiagnosisProblem->parentWidget());
        return;
    }
    QDialog::accept();
}
