#include "idletimerview/idletimerwindow.h"

#include "config/options.h"
#include "idletimer/hostport.h"
#include "idletimer/lineidlefinder.h"
#include "idletimer/reflector.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

namespace idletimerview {

// What this folder shows is the idletimer layer's: its types are used unqualified.
using namespace idletimer;

namespace {

// Lines of progress kept: a long TCP run tells a few dozen.
constexpr int kProgressLines = 500;

QLabel *PlainLabel(QWidget *parent, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

} // namespace

TIdleTimerWindow::TIdleTimerWindow(const config::TOptions &options, QWidget *parent)
    : QWidget(parent, Qt::Window), options_(options)
{
    setObjectName(QStringLiteral("IdleTimerForm"));
    setWindowTitle(QStringLiteral("Find Idle Timer"));

    cb_IdleKind = new QComboBox(this);
    cb_IdleKind->setObjectName(QStringLiteral("cb_IdleKind"));
    cb_IdleKind->addItems({QStringLiteral("UDP mapping"), QStringLiteral("TCP connection"),
                           QStringLiteral("Dial-up line")});
    edt_IdleReflector = new QLineEdit(options.Reflector.Host, this);
    edt_IdleReflector->setObjectName(QStringLiteral("edt_IdleReflector"));
    edt_IdleReflector->setPlaceholderText(QStringLiteral("host[:port] running idlix --reflector"));
    se_IdleMax = new QSpinBox(this);
    se_IdleMax->setObjectName(QStringLiteral("se_IdleMax"));
    se_IdleMax->setRange(1, int(kMaxSilence));
    se_IdleMax->setSuffix(QStringLiteral(" s"));
    btn_IdleStart = new QPushButton(QStringLiteral("Start"), this);
    btn_IdleStart->setObjectName(QStringLiteral("btn_IdleStart"));
    btn_IdleStop = new QPushButton(QStringLiteral("Stop"), this);
    btn_IdleStop->setObjectName(QStringLiteral("btn_IdleStop"));
    re_IdleProgress = new QPlainTextEdit(this);
    re_IdleProgress->setObjectName(QStringLiteral("re_IdleProgress"));
    re_IdleProgress->setReadOnly(true);
    re_IdleProgress->setMaximumBlockCount(kProgressLines);
    lbl_IdleLeft = PlainLabel(this, "lbl_IdleLeft");
    lbl_IdleResult = PlainLabel(this, "lbl_IdleResult");
    QFont bold = lbl_IdleResult->font();
    bold.setBold(true);
    lbl_IdleResult->setFont(bold);
    btn_IdleUse = new QPushButton(QStringLiteral("Use this interval"), this);
    btn_IdleUse->setObjectName(QStringLiteral("btn_IdleUse"));
    btn_IdleUse->setEnabled(false);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Measure:"), cb_IdleKind);
    form->addRow(QStringLiteral("Reflector:"), edt_IdleReflector);
    form->addRow(QStringLiteral("Longest silence:"), se_IdleMax);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btn_IdleStart);
    buttons->addWidget(btn_IdleStop);
    buttons->addStretch();
    buttons->addWidget(btn_IdleUse);
    auto *column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons);
    column->addWidget(re_IdleProgress, 1);
    column->addWidget(lbl_IdleLeft);
    column->addWidget(lbl_IdleResult);
    resize(480, 400);

    leftTimer_ = new QTimer(this);
    leftTimer_->setObjectName(QStringLiteral("IdleLeftTimer"));
    leftTimer_->setInterval(1000);
    connect(leftTimer_, &QTimer::timeout, this, [this] { ShowLeft(); });
    connect(cb_IdleKind, &QComboBox::currentIndexChanged, this, [this] { KindChanged(); });
    connect(btn_IdleStart, &QPushButton::clicked, this, [this] { btn_IdleStartClick(); });
    connect(btn_IdleStop, &QPushButton::clicked, this, [this] { btn_IdleStopClick(); });
    connect(btn_IdleUse, &QPushButton::clicked, this, [this] {
        if (OnUseInterval && result_.State == TTrialPlan::TState::Found)
            OnUseInterval(result_.Seconds);
    });
    KindChanged();
    SetRunning(false);
}

TIdleTimerWindow::~TIdleTimerWindow()
{
    if (lookup_)
        platform::Lookups().Cancel(lookup_);
}

void TIdleTimerWindow::KindChanged()
{
    const int kind = cb_IdleKind->currentIndex();
    se_IdleMax->setValue(DefaultLongest(kind == Tcp ? TIdleKind::Tcp : kind == Line ? TIdleKind::Line : TIdleKind::Udp));
    edt_IdleReflector->setEnabled(kind != Line);
}

void TIdleTimerWindow::SetRunning(bool on)
{
    btn_IdleStart->setEnabled(!on);
    btn_IdleStop->setEnabled(on);
    cb_IdleKind->setEnabled(!on);
    edt_IdleReflector->setEnabled(!on && cb_IdleKind->currentIndex() != Line);
    se_IdleMax->setEnabled(!on);
    btn_IdleUse->setVisible(bool(OnUseInterval));
    btn_IdleUse->setEnabled(!on && result_.State == TTrialPlan::TState::Found && OnUseInterval);
    if (on)
        leftTimer_->start();
    else
        leftTimer_->stop();
}

void TIdleTimerWindow::Progress(const QString &line)
{
    re_IdleProgress->appendPlainText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + line);
}

void TIdleTimerWindow::btn_IdleStartClick()
{
    if (Running() || lookup_)
        return;
    result_ = TIdleResult{};
    lbl_IdleResult->clear();
    re_IdleProgress->clear();
    if (cb_IdleKind->currentIndex() == Line) {
        BeginLine();
        return;
    }
    if (const QString problem = KeyProblem(options_.Reflector.Key); !problem.isEmpty()) {
        lbl_IdleResult->setText(problem);
        return;
    }
    QString host, error;
    std::uint16_t port = kReflectorPort;
    if (!SplitHostPort(edt_IdleReflector->text(), &host, &port, &error) || host.isEmpty()) {
        lbl_IdleResult->setText(error.isEmpty() ? QStringLiteral("Give the reflector's host (idlix --reflector runs there).")
                                                : QStringLiteral("Reflector %1").arg(error));
        return;
    }
    Progress(QStringLiteral("looking up %1").arg(host));
    SetRunning(true);
    lookup_ = platform::Lookups().Submit(this, platform::TLookupRequest::ForName(host.toStdString(), platform::Lookups().RunFamily()),
                                        [this, host, port](unsigned, int code, const platform::HostEntry &entry) {
        lookup_ = 0;
        if (code != 0 || entry.addresses.empty()) {
            SetRunning(false);
            lbl_IdleResult->setText(QStringLiteral("Reflector %1: not found (error %2)").arg(host).arg(code));
            return;
        }
        Begin(entry.addresses.front(), port);
    });
}

void TIdleTimerWindow::Begin(const platform::IpAddress &address, std::uint16_t port)
{
    const TIdleKind kind = cb_IdleKind->currentIndex() == Tcp ? TIdleKind::Tcp : TIdleKind::Udp;
    TIdleTrial::TTarget target{address, port, kind == TIdleKind::Tcp ? TTransport::Tcp : TTransport::Udp,
                               KeyBytes(options_.Reflector.Key)};
    finder_ = new TIdleTimerFinder(target, PlanSettings(kind, se_IdleMax->value()), this);
    finder_->OnProgress = [this](const QString &line) { Progress(line); };
    finder_->OnDone = [this](const TIdleResult &r) { Done(r); };
    Progress(QStringLiteral("measuring the %1 idle timer against %2 port %3")
                 .arg(KindName(kind), QString::fromStdString(platform::AddressText(address)))
                 .arg(port));
    SetRunning(true);
    finder_->Start();
}

void TIdleTimerWindow::BeginLine()
{
    const bool agreed = ConfirmLineDrop ? ConfirmLineDrop()
                                        : QMessageBox::question(this, windowTitle(),
                                              QStringLiteral("Measuring the line's idle timer ends your dial-up "
                                                             "connection: Idlix dials the entry of the dial-up "
                                                             "options, then sends nothing until the line drops. "
                                                             "Go on?"))
                                              == QMessageBox::Yes;
    if (!agreed)
        return;
    const QString book = dialer::StartupPhoneBook();
    QStringList entries;
    if (const int rc = dialer::DialEnumEntries(book, entries); rc != 0 || entries.isEmpty()) {
        lbl_IdleResult->setText(QStringLiteral("No dial-up entry to measure: %1")
                                    .arg(rc ? dialer::DialErrorText(rc) : QStringLiteral("the phone book is empty")));
        return;
    }
    dialer::DialParams params;
    params.entry = entries.value(options_.DialUp.Connection, entries.front());
    params.userName = options_.DialUp.UserName;
    params.password = options_.DialUp.Password;
    lineFinder_ = new TLineIdleFinder(book, params, se_IdleMax->value(), this);
    lineFinder_->OnProgress = [this](const QString &line) { Progress(line); };
    lineFinder_->OnDone = [this](const TIdleResult &r) { Done(r); };
    SetRunning(true);
    lineFinder_->Start();
}

void TIdleTimerWindow::btn_IdleStopClick()
{
    if (lineFinder_) {
        // Ends without a verdict: the measurement was cut short.
        lineFinder_->Stop();
        lineFinder_->deleteLater();
        lineFinder_ = nullptr;
        SetRunning(false);
        Progress(QStringLiteral("stopped; the line was hung up"));
        return;
    }
    if (lookup_) {
        platform::Lookups().Cancel(lookup_);
        lookup_ = 0;
        SetRunning(false);
        return;
    }
    if (finder_)
        finder_->Stop();
}

void TIdleTimerWindow::ShowLeft()
{
    if (lineFinder_) {
        lbl_IdleLeft->setText(QStringLiteral("The line silent for %1 s").arg(lineFinder_->SilentSeconds()));
        return;
    }
    if (!finder_) {
        lbl_IdleLeft->clear();
        return;
    }
    QStringList running;
    for (int t : finder_->Pending())
        running << QString::number(t);
    lbl_IdleLeft->setText(running.isEmpty() ? QString()
                                            : QStringLiteral("Trials running: %1 s; %2 s left at most")
                                                  .arg(running.join(QStringLiteral(", ")))
                                                  .arg(finder_->SecondsLeft()));
}

void TIdleTimerWindow::Done(const TIdleResult &r)
{
    result_ = r;
    // Freed once its own handler has returned.
    if (finder_)
        finder_->deleteLater();
    if (lineFinder_)
        lineFinder_->deleteLater();
    finder_ = nullptr;
    lineFinder_ = nullptr;
    SetRunning(false);
    lbl_IdleLeft->setText(QStringLiteral("%1 trials, %2 bytes sent, %3 s")
                              .arg(r.Started)
                              .arg(r.BytesSent)
                              .arg(r.ElapsedMs / 1000));
    lbl_IdleResult->setText(ResultLine(r));
    if (OnResult)
        OnResult(r);
}

} // namespace idletimerview
