// Replacing a file whole: the new bytes go to a temporary file in the same
// directory, are flushed to disk and renamed over the old file, so a failure
// at any step (a full disk, a size limit, a missing directory) leaves the old
// file as it was and no half-written file behind. A symbolic link (settings
// kept in a dotfiles repository) is followed: its target is replaced and the
// link stays.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Permission bits a replaced file gets before the umask: readable by all
// (0666), or by its owner only (0600) for files holding secrets.
enum class TFileAccess { Shared, OwnerOnly };

// Writes bytes as the whole new content of path. True when it is on disk;
// false with the system's reason in 'reason' (when given) otherwise. Every
// write is checked: a short write is a failure, never a shorter file.
bool ReplaceFile(const QString &path, const QByteArray &bytes, TFileAccess access,
                 QString *reason = nullptr);

// The same for content written piece by piece (an export of any length):
// the pieces go to the temporary file, and only Commit puts it in place. A
// writer destroyed without Commit removes the temporary file and leaves the
// old one as it was.
class TFileReplacer {
public:
    TFileReplacer() = default;
    ~TFileReplacer();
    TFileReplacer(const TFileReplacer &) = delete;
    TFileReplacer &operator=(const TFileReplacer &) = delete;

    // False with the system's reason when the temporary file cannot be made.
    bool Open(const QString &path, TFileAccess access, QString *reason = nullptr);
    // Every byte written, or false (and every later call fails too).
    bool Write(const QByteArray &bytes);
    // Flushed to disk and renamed over the path; false with the reason.
    bool Commit(QString *reason = nullptr);

private:
    int fd_ = -1;
    int error_ = 0;
    QByteArray target_, tmpName_;
};

} // namespace platform
