// Whether the connection the system sends its traffic through is metered (a
// mobile plan paid by the byte), as NetworkManager says on the system bus,
// followed as it changes. Without NetworkManager nothing counts as metered.
#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace bus {

class TMeteredWatch : public QObject {
    Q_OBJECT
public:
    // NetworkManager's metered states (NMMetered).
    enum : uint { kUnknown = 0, kYes = 1, kNo = 2, kGuessYes = 3, kGuessNo = 4 };
    // Yes and a guessed yes count as metered; everything else does not.
    static bool IsMetered(uint state) { return state == kYes || state == kGuessYes; }

    explicit TMeteredWatch(QObject *parent = nullptr);

    // Reads the state and follows it from now on (NetworkManager leaving and
    // coming back included). The answer comes later, through OnChange.
    void Start();
    bool Metered() const { return metered_; }

    // The state changed (never called with the state it already had).
    std::function<void(bool metered)> OnChange;

    // The longest wait for NetworkManager's answer (tests shorten it).
    int CallTimeoutMs = 3000;

private slots:
    void propertiesChanged(const QString &iface, const QVariantMap &changed, const QStringList &invalidated);

private:
    void read();
    void set(bool metered);

    bool metered_ = false;
    int reads_ = 0;   // numbers the reads, so an answer overtaken by a newer one is dropped
};

} // namespace bus
