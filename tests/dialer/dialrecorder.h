// Dials through the platform service and keeps every notification, for the
// dial-up service's tests; hangs up whatever it still holds when it goes.
#pragma once

#include "dialer/dialup.h"

#include <QObject>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

struct DialNote {
    dialer::DialHandle handle;
    unsigned state;
    int error;
    bool operator==(const DialNote &o) const
    {
        return handle == o.handle && state == o.state && error == o.error;
    }
};

// Checks the status the service gives for a line.
inline void ExpectDialStatus(dialer::DialHandle h, unsigned state, const QString &deviceName,
                             const QString &deviceType)
{
    dialer::DialStatus st;
    ASSERT_EQ(dialer::DialGetStatus(h, st), 0);
    EXPECT_EQ(st.state, state);
    EXPECT_EQ(st.deviceName, deviceName);
    EXPECT_EQ(st.deviceType, deviceType);
}

class DialRecorder {
public:
    ~DialRecorder() { hangUpAll(); }

    // DialStart of entry in phoneBook; a started line is held.
    int dial(const QString &phoneBook, const QString &entry, dialer::DialHandle &h,
             const QString &user = {}, const QString &password = {}, QString *notice = nullptr)
    {
        dialer::DialParams p;
        p.entry = entry;
        p.userName = user;
        p.password = password;
        const int rc = dialer::DialStart(
            phoneBook, p, &receiver_,
            [this](dialer::DialHandle hh, unsigned s, int e) { notes.push_back({hh, s, e}); }, h,
            notice);
        if (rc == 0)
            held.push_back(h);
        return rc;
    }
    // (state, error) of every notification, in order.
    std::vector<std::pair<unsigned, int>> pairs() const
    {
        std::vector<std::pair<unsigned, int>> v;
        for (const DialNote &n : notes)
            v.emplace_back(n.state, n.error);
        return v;
    }
    void hangUpAll()
    {
        for (dialer::DialHandle h : held)
            dialer::DialHangUp(h);
        held.clear();
    }

    std::vector<DialNote> notes;
    std::vector<dialer::DialHandle> held;

private:
    QObject receiver_;
};
