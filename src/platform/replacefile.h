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

} // namespace platform
