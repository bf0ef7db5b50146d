// Base of the network components' exceptions: a message only, kept as the
// QString it was made from so that no text is lost to a narrow conversion.
#pragma once

#include <QString>
#include <stdexcept>

class ENetError : public std::runtime_error {
public:
    explicit ENetError(const QString &msg)
        : std::runtime_error(msg.toStdString()), message_(msg) {}
    QString Message() const { return message_; }
private:
    QString message_;
};
