#include "session/sessionlog.h"

#include "session/logfile.h"

QString TSessionLog::Path() const
{
    return path_.isEmpty() ? session::LogFilePath() : path_;
}

bool TSessionLog::Remove(QString *error)
{
    return session::DeleteLogFile(Path(), error);
}

TSessionLog::TFlush TSessionLog::FlushIfDue(QString *error)
{
    if (pending_.size() <= session::LogFlushThreshold)
        return TFlush::Nothing;
    return Write(error);
}

TSessionLog::TFlush TSessionLog::FlushAll(QString *error)
{
    if (pending_.isEmpty())
        return TFlush::Nothing;
    return Write(error);
}

TSessionLog::TFlush TSessionLog::Write(QString *error)
{
    QString message;
    if (!session::AppendLogLines(Path(), pending_, &message)) {
        if (error)
            *error = failing_ ? QString() : message;
        failing_ = true;
        return TFlush::Failed;
    }
    failing_ = false;
    pending_.clear();
    return TFlush::Written;
}
