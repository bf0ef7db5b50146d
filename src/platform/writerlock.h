// A lock that one process at a time holds on a file, with a line of text
// in it that says who: the kernel drops it when its holder ends, however it
// ends, so a crash never keeps the next program out.
#pragma once

#include <QString>

namespace platform {

class TWriterLock {
public:
    TWriterLock() = default;
    ~TWriterLock();
    TWriterLock(const TWriterLock &) = delete;
    TWriterLock &operator=(const TWriterLock &) = delete;

    // Takes the lock on 'path' (made when missing) and writes 'who' into
    // it. False when another holds it: Holder() then says who; also false,
    // with an empty Holder(), when the file cannot be made at all.
    bool Take(const QString &path, const QString &who);
    void Release();
    bool Held() const { return fd_ >= 0; }
    // What the holder wrote (when Take() found the lock taken).
    QString Holder() const { return holder_; }

private:
    int fd_ = -1;
    QString holder_;
};

} // namespace platform
