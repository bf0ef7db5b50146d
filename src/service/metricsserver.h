// The metrics endpoint: an HTTP server on a thread of its own that answers
// GET /metrics with the text last published. The probe loop publishes after
// each change, so a scrape only copies bytes: it never waits for a probe,
// never sends one, and a probe never waits for a client.
//
// A client cannot hold more than its share: at most MaxConnections at once
// (at the cap a new one takes the place of the oldest that has not sent its
// request yet; when all are being answered it is closed at once), at most
// MaxRequestBytes of request head
// read (a longer one gets 431), and TimeoutMs from connecting to being
// served whole, however slowly it sends or reads. Memory therefore stays
// within MaxConnections x (request limit + one response).
#pragma once

#include "service/metricsaddress.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>

namespace service {

class TMetricsListener;

class TMetricsServer : public QObject {
    Q_OBJECT
public:
    struct TLimits {
        int MaxConnections = 16;
        int MaxRequestBytes = 8192;
        int TimeoutMs = 5000;
    };
    enum class TListenError { None, AddressInUse, Other };

    explicit TMetricsServer(QObject *parent = nullptr) : TMetricsServer(TLimits(), parent) {}
    explicit TMetricsServer(const TLimits &limits, QObject *parent = nullptr);
    // Closes every connection and ends the thread.
    ~TMetricsServer() override;

    // Listens at 'at' (a listener already open is closed first). False with
    // the system's reason when the address cannot be taken.
    bool Listen(const TListenAddress &at, QString *error = nullptr, TListenError *why = nullptr);
    void Close();
    bool Listening() const;
    // Where it listens, with the port the system gave when 0 was asked.
    TListenAddress Address() const;

    // The metrics text that scrapes get from now on. Any thread.
    void Publish(const QByteArray &metrics);

    // Connections open now, and requests answered so far.
    int OpenConnections() const;
    quint64 Served() const;

    // What the listener thread shares with the owner.
    struct TShared {
        QMutex Lock;
        QByteArray Metrics;             // under Lock
        std::atomic<int> Open{0};
        std::atomic<quint64> Served{0};
    };

private:
    TLimits limits_;
    std::shared_ptr<TShared> shared_;
    QThread thread_;
    TMetricsListener *listener_ = nullptr;   // lives on thread_
    TListenAddress address_;
    bool listening_ = false;
};

} // namespace service
