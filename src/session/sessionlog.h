// The session log as the session writes it: every history line of the
// session is kept until it is in "AI_Log.txt". While the session runs the
// lines go out in batches (once more than LogFlushThreshold wait, when the
// log timer asks); when the session ends or the program exits, whatever is
// still waiting goes out, so no line is lost. The next session starts the
// file anew.
#pragma once

#include <QString>
#include <QStringList>

class TSessionLog {
public:
    // Logs to 'path'; with none, to the session log of the data folder as
    // it is at each write.
    explicit TSessionLog(const QString &path = QString()) : path_(path) {}

    QString Path() const;
    // The lines not yet in the file, oldest first.
    const QStringList &Pending() const { return pending_; }

    void Add(const QString &line) { pending_ << line; }
    // A new session's history starts empty: what still waits is dropped.
    void Forget() { pending_.clear(); }
    // The last session's file goes. False (with the message in 'error') when
    // it cannot be removed.
    bool Remove(QString *error);

    enum class TFlush { Nothing, Written, Failed };
    // The timer's flush: every waiting line once there are more than the
    // threshold, else nothing. A failed write keeps the lines waiting, and
    // the file holds whole lines only. 'error' gets the message for the user
    // when the failure is news (the first, or the first after a write that
    // went through) and is left empty while the same failure lasts (a disk
    // that stays full through many flushes).
    TFlush FlushIfDue(QString *error);
    // Every waiting line, however few.
    TFlush FlushAll(QString *error);

private:
    TFlush Write(QString *error);

    QString path_;
    QStringList pending_;
    bool failing_ = false;   // the last write failed, and that was told
};
