// Sending remote-write requests: what an answer means (delivered, try again
// later, or never), the waits between tries, and the request itself, made
// with libcurl on a thread of its own so that a slow or silent receiver
// never holds up a probe.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class QObject;

namespace service {

enum class TReply {
    Delivered,   // 2xx: the receiver has the samples
    Retry,       // no answer, 5xx, 429: the same samples again later
    Drop,        // any other status: these samples will never be taken
};

// What an HTTP status means for the samples sent; 0 for no answer at all.
TReply ClassifyReply(int status);

// The waits between tries of the same request: doubling from 'first' up to
// 'longest', back to 'first' after a delivery. A receiver's Retry-After
// (seconds) is honoured up to 'longest'.
class TBackoff {
public:
    TBackoff(int firstMs = 500, int longestMs = 15000) : first_(firstMs), longest_(longestMs) {}
    int Next(std::optional<int> retryAfterS = std::nullopt);
    void Reset() { next_ = 0; }
    int Current() const { return next_; }

private:
    int first_, longest_, next_ = 0;
};

// How to sign in: nothing, a bearer token, or a user and password.
struct TRemoteAuth {
    QString Bearer;
    QString User, Password;
    bool Basic = false;
};

// "bearer FILE" or "basic USER FILE" (the token or password the first line
// of FILE, read bounded) -> the credentials; false with the reason.
bool ReadRemoteAuth(const QString &setting, TRemoteAuth *auth, QString *error);

struct TPostResult {
    int Status = 0;               // 0: no answer (the reason in Error)
    QString Error;
    std::optional<int> RetryAfterS;
    QByteArray Body;              // the start of the answer, for the log
};

// One POST at a time on a worker thread; the result is handed to Done on
// the thread the poster was made on (through its event loop).
class THttpPoster {
public:
    THttpPoster();
    ~THttpPoster();   // cuts off a request under way
    THttpPoster(const THttpPoster &) = delete;
    THttpPoster &operator=(const THttpPoster &) = delete;

    bool Busy() const { return busy_; }
    // False when one is under way.
    bool Post(const QString &url, const QByteArray &body, const TRemoteAuth &auth,
              std::function<void(const TPostResult &)> done);

    static constexpr int kConnectTimeoutS = 10;
    static constexpr int kTimeoutS = 20;

private:
    void Run();

    struct TJob {
        QString Url;
        QByteArray Body;
        TRemoteAuth Auth;
        std::function<void(const TPostResult &)> Done;
    };
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<TJob> job_;
    std::atomic<bool> quit_{false};
    bool busy_ = false;
    QObject *context_ = nullptr;   // lives on the caller's thread
    std::thread thread_;
};

} // namespace service
