#include "service/remotewriter.h"

#include "platform/replacefile.h"

#include <QDateTime>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>

namespace service {

namespace {

constexpr char kLastDelivery[] = "last_delivery_ms";
constexpr qint64 kPruneEveryMs = 3600 * 1000;
constexpr int kSettleMs = 250;

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString TimeText(qint64 ms)
{
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
    return at.date() == QDate::currentDate() ? at.toString(QStringLiteral("HH:mm:ss"))
                                              : at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The answer's start as one line of plain text.
QString AnswerText(const QByteArray &body)
{
    QString text = QString::fromUtf8(body).simplified();
    for (QChar &c : text) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return text;
}

} // namespace

bool MakeRemoteWriteSettings(const QString &url, const QString &auth, const QString &node,
                             const QString &labels, TRemoteWriteSettings *settings, QString *error)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        *error = QStringLiteral("The remote-write address '%1' is not an http:// or https:// URL").arg(url);
        return false;
    }
    settings->Url = parsed.toString(QUrl::FullyEncoded);
    if (!ReadRemoteAuth(auth, &settings->Auth, error))
        return false;
    TLabels extra;
    if (!ParseExtraLabels(labels, &extra, error)) {
        *error = QStringLiteral("[Service] Labels: ") + *error;
        return false;
    }
    const QString instance = node.trimmed().isEmpty() ? QSysInfo::machineHostName() : node.trimmed();
    for (const auto &[name, value] : extra) {
        if (name == "instance" || name == "job") {
            *error = QStringLiteral("[Service] Labels: '%1' is set by the service (Node= names the instance)")
                         .arg(QString::fromStdString(name));
            return false;
        }
    }
    extra.emplace_back("instance", instance.toStdString());
    extra.emplace_back("job", "idlix");
    settings->Labels = extra;
    return true;
}

TRemoteWriter::TRemoteWriter(const TRemoteWriteSettings &settings, const TServiceLog &log,
                             std::function<QByteArray()> render, QObject *parent)
    : QObject(parent), settings_(settings), log_(log), render_(std::move(render)), queue_(settings.QueuePath),
      poster_(std::make_unique<THttpPoster>())
{
    SampleTimer = new QTimer(this);
    SampleTimer->setObjectName(QStringLiteral("SampleTimer"));
    SampleTimer->setInterval(settings_.IntervalS * 1000);
    connect(SampleTimer, &QTimer::timeout, this, [this] { Snapshot(); });
    RetryTimer = new QTimer(this);
    RetryTimer->setObjectName(QStringLiteral("RetryTimer"));
    RetryTimer->setSingleShot(true);
    connect(RetryTimer, &QTimer::timeout, this, [this] { Pump(); });
    lastDeliveryMs_ = queue_.State(kLastDelivery);
    if (!queue_.Problem().isEmpty())
        log_.Write(TLogLevel::Warning, queue_.Problem());
}

TRemoteWriter::~TRemoteWriter() = default;

void TRemoteWriter::Start()
{
    log_.Write(TLogLevel::Notice, QStringLiteral("Remote write to %1%2")
                                      .arg(settings_.Url, queue_.Pending() > 0
                                                              ? QStringLiteral(", %1 samples waiting from before")
                                                                    .arg(queue_.Pending())
                                                              : QString()));
    Prune();
    SampleTimer->start();
    Snapshot();
}

void TRemoteWriter::Changed()
{
    if (snapshotDue_)
        return;
    snapshotDue_ = true;
    // A probe's result, the line's state and the history line come in
    // separate turns of the loop: one snapshot takes them all.
    QTimer::singleShot(kSettleMs, this, [this] { Snapshot(); });
}

void TRemoteWriter::RetryNow()
{
    if (RetryTimer->isActive()) {
        RetryTimer->stop();
        backoff_.Reset();
        Pump();
    }
}

void TRemoteWriter::Snapshot()
{
    snapshotDue_ = false;
    // Each snapshot its own millisecond: a receiver takes one value per time.
    const qint64 at = std::max(NowMs(), lastSnapshotMs_ + 1);
    lastSnapshotMs_ = at;
    if (!queue_.Append(at, ParseExposition(render_(), settings_.Labels))) {
        if (queue_.Problem() != lastProblem_)
            log_.Write(TLogLevel::Warning, queue_.Problem());
    }
    lastProblem_ = queue_.Problem();
    if (at - lastPruneMs_ >= kPruneEveryMs)
        Prune();
    Tell();
    Pump();
}

void TRemoteWriter::Prune()
{
    lastPruneMs_ = NowMs();
    const qint64 gone = queue_.Prune(lastPruneMs_ - qint64(settings_.KeepHours) * 3600 * 1000);
    if (gone > 0)
        log_.Write(TLogLevel::Warning, QStringLiteral("Remote write: %1 samples older than %2 h let go unsent")
                                           .arg(gone)
                                           .arg(settings_.KeepHours));
}

void TRemoteWriter::Pump()
{
    if (poster_->Busy() || RetryTimer->isActive() || queue_.Pending() == 0)
        return;
    const TRemoteQueue::TBatch batch = queue_.Oldest(kMaxSamplesPerRequest);
    if (batch.Samples == 0)
        return;
    const qint64 lastSeq = batch.LastSeq;
    const int samples = batch.Samples;
    poster_->Post(settings_.Url, EncodeWriteRequest(batch.Series), settings_.Auth,
                  [this, lastSeq, samples](const TPostResult &result) { Finished(result, lastSeq, samples); });
}

void TRemoteWriter::Finished(const TPostResult &result, qint64 lastSeq, int samples)
{
    const QString answer = result.Status == 0
                               ? result.Error
                               : QStringLiteral("HTTP %1%2").arg(result.Status).arg(
                                     result.Body.isEmpty() ? QString() : QStringLiteral(": ") + AnswerText(result.Body));
    switch (ClassifyReply(result.Status)) {
    case TReply::Delivered:
        queue_.Remove(lastSeq);
        lastDeliveryMs_ = NowMs();
        queue_.SetState(kLastDelivery, lastDeliveryMs_);
        if (failedInARow_ > 0)
            log_.Write(TLogLevel::Notice, QStringLiteral("Remote write delivers again (%1 tries failed)").arg(failedInARow_));
        failedInARow_ = 0;
        backoff_.Reset();
        break;
    case TReply::Retry: {
        ++failures_;
        // The first failure of a run is told; the tries after it are not.
        if (failedInARow_++ == 0)
            log_.Write(TLogLevel::Warning, QStringLiteral("Remote write to %1 failed, trying again: %2")
                                               .arg(settings_.Url, answer));
        RetryTimer->start(backoff_.Next(result.RetryAfterS));
        break;
    }
    case TReply::Drop:
        ++failures_;
        queue_.Remove(lastSeq);
        log_.Write(TLogLevel::Error, QStringLiteral("Remote write: the receiver refused %1 samples, dropped: %2")
                                         .arg(samples)
                                         .arg(answer));
        break;
    }
    Tell();
    Pump();
}

QString TRemoteWriter::StatusText() const
{
    QString text = QStringLiteral("remote write: %1 samples waiting").arg(queue_.Pending());
    text += lastDeliveryMs_ > 0 ? QStringLiteral(", last delivery %1").arg(TimeText(lastDeliveryMs_))
                                : QStringLiteral(", nothing delivered yet");
    if (failedInARow_ > 0)
        text += QStringLiteral(", %1 tries failed").arg(failedInARow_);
    if (!queue_.Problem().isEmpty())
        text += QStringLiteral(" (%1)").arg(queue_.Problem());
    return text;
}

void TRemoteWriter::Tell()
{
    const QString status = StatusText();
    if (status != lastStatus_ && !settings_.StatusPath.isEmpty()) {
        // For the window's Preferences; a file that cannot be written only
        // leaves an older line there.
        platform::ReplaceFile(settings_.StatusPath, status.toUtf8() + '\n', platform::TFileAccess::Shared);
    }
    lastStatus_ = status;
    if (OnStatus)
        OnStatus();
}

} // namespace service

// Built with this file rather than with the library's other classes: the
// desktop program links the metrics from this library, and with --as-needed
// none of the remote write's libraries (libcurl, protobuf, snappy).
#include "moc_remotewriter.cpp"
