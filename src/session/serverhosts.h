// The server list in memory: the hosts a cycling session visits in turn.
// The Server List panel edits it (and shows it in ListBox1); the session
// reads it at every tick, so edits during a session take effect at the next
// one. It is read from and written to the server list file on request.
#pragma once

#include "session/serverlistfile.h"

#include <QString>
#include <QStringList>

#include <functional>

class TServerHosts {
public:
    const QStringList &Entries() const { return entries_; }
    int Count() const { return int(entries_.size()); }
    QString At(int index) const { return entries_.value(index); }

    // The file replaces the entries when it exists and can be read; false
    // (entries unchanged) otherwise.
    bool Load(const QString &path);
    // The entries replace the file; false when it cannot be written.
    bool Save(const QString &path) const;

    // Edits (Load and Replace tell OnReset; Append and RemoveAt are the
    // editor's own and tell no one).
    void Replace(const QStringList &entries);
    void Append(const QString &host) { entries_ << host; }
    void RemoveAt(int index);

    // Called after the whole list was replaced.
    std::function<void()> OnReset;

private:
    QStringList entries_;
    session::TListEncoding encoding_ = session::TListEncoding::Cp1252;   // as the file was read
};
