#include "service/remotesender.h"

#include "platform/boundedread.h"
#include "platform/version.h"

#include <QMetaObject>
#include <QObject>

#include <curl/curl.h>

#include <algorithm>

namespace service {

TReply ClassifyReply(int status)
{
    if (status >= 200 && status < 300)
        return TReply::Delivered;
    if (status == 0 || status == 429 || status >= 500)
        return TReply::Retry;
    return TReply::Drop;
}

int TBackoff::Next(std::optional<int> retryAfterS)
{
    next_ = next_ == 0 ? first_ : std::min(longest_, next_ * 2);
    if (retryAfterS && *retryAfterS > 0)
        next_ = std::clamp(*retryAfterS * 1000, next_, longest_);
    return next_;
}

bool ReadRemoteAuth(const QString &setting, TRemoteAuth *auth, QString *error)
{
    *auth = {};
    const QStringList words = setting.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    const QString kind = words[0].toLower();
    const bool basic = kind == QLatin1String("basic") && words.size() == 3;
    if (!basic && !(kind == QLatin1String("bearer") && words.size() == 2)) {
        *error = QStringLiteral("RemoteWriteAuth must be \"bearer FILE\" or \"basic USER FILE\", not '%1'").arg(setting);
        return false;
    }
    const QString path = words.last();
    const platform::TBoundedText read = platform::ReadBoundedText(path, {4096, 1, 4096, platform::TLineEnds::Lf, {}});
    const QString secret = QString::fromUtf8(read.text).trimmed();
    if (read.status != platform::TReadStatus::Read || secret.isEmpty()) {
        *error = QStringLiteral("Cannot read the remote-write %1 from %2")
                     .arg(basic ? QStringLiteral("password") : QStringLiteral("token"), path);
        return false;
    }
    auth->Basic = basic;
    if (basic) {
        auth->User = words[1];
        auth->Password = secret;
    } else {
        auth->Bearer = secret;
    }
    return true;
}

namespace {

constexpr int kBodyKept = 512;   // of an answer, for the log

struct TReceived {
    QByteArray Body;
    std::optional<int> RetryAfterS;
    const std::atomic<bool> *Quit = nullptr;
};

size_t KeepBody(char *data, size_t size, size_t n, void *user)
{
    auto *got = static_cast<TReceived *>(user);
    const qsizetype room = kBodyKept - got->Body.size();
    if (room > 0)
        got->Body.append(data, std::min<qsizetype>(room, qsizetype(size * n)));
    return size * n;   // the rest is read and let go
}

size_t ReadHeader(char *data, size_t size, size_t n, void *user)
{
    const QByteArray line = QByteArray(data, qsizetype(size * n)).trimmed();
    if (line.toLower().startsWith("retry-after:")) {
        bool ok = false;
        const int seconds = line.mid(12).trimmed().toInt(&ok);
        if (ok)
            static_cast<TReceived *>(user)->RetryAfterS = seconds;
    }
    return size * n;
}

int Progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<TReceived *>(user)->Quit->load() ? 1 : 0;
}

TPostResult PostNow(const QString &url, const QByteArray &body, const TRemoteAuth &auth,
                    const std::atomic<bool> &quit)
{
    TPostResult result;
    CURL *curl = curl_easy_init();
    if (!curl) {
        result.Error = QStringLiteral("cannot start an HTTP request");
        return result;
    }
    const QByteArray urlBytes = url.toUtf8();
    const QByteArray agent = QByteArray("Idlix/") + platform::ProgramVersion;
    const QByteArray user = auth.User.toUtf8(), password = auth.Password.toUtf8();
    curl_slist *headers = nullptr;
    headers = curl_slist_append(headers, "Content-Encoding: snappy");
    headers = curl_slist_append(headers, "Content-Type: application/x-protobuf");
    headers = curl_slist_append(headers, "X-Prometheus-Remote-Write-Version: 0.1.0");
    headers = curl_slist_append(headers, "Expect:");
    if (!auth.Bearer.isEmpty())
        headers = curl_slist_append(headers, ("Authorization: Bearer " + auth.Bearer.toUtf8()).constData());
    TReceived got;
    got.Quit = &quit;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(THttpPoster::kConnectTimeoutS));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(THttpPoster::kTimeoutS));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, KeepBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &got);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, ReadHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &got);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &got);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    // A test or a private receiver's CA, named the way OpenSSL's tools take it.
    if (const QByteArray ca = qgetenv("SSL_CERT_FILE"); !ca.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca.constData());
    if (auth.Basic) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        result.Status = int(status);
        result.Body = got.Body;
        result.RetryAfterS = got.RetryAfterS;
    } else {
        result.Error = QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(code));
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

} // namespace

THttpPoster::THttpPoster()
{
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)started;
    context_ = new QObject;
    thread_ = std::thread([this] { Run(); });
}

THttpPoster::~THttpPoster()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    delete context_;
}

bool THttpPoster::Post(const QString &url, const QByteArray &body, const TRemoteAuth &auth,
                       std::function<void(const TPostResult &)> done)
{
    if (busy_)
        return false;
    busy_ = true;
    {
        std::lock_guard lock(mutex_);
        job_ = TJob{url, body, auth, std::move(done)};
    }
    wake_.notify_all();
    return true;
}

void THttpPoster::Run()
{
    while (true) {
        TJob job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || job_; });
            if (quit_)
                return;
            job = std::move(*job_);
            job_.reset();
        }
        const TPostResult result = PostNow(job.Url, job.Body, job.Auth, quit_);
        if (quit_)
            return;
        // The poster outlives its thread, which ends before context_ goes.
        QMetaObject::invokeMethod(context_, [this, result, done = std::move(job.Done)] {
            busy_ = false;
            done(result);
        }, Qt::QueuedConnection);
    }
}

} // namespace service
