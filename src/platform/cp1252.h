// The Windows-1252 code page, both directions. Text files the program writes
// for other programs (the history log, the server list, the ISP tree) use it,
// so the bullet U+2022 is stored as the byte 0x95.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

// Encodes text; characters the code page cannot hold become '?', one per
// character (a surrogate pair counts as one).
QByteArray ToCp1252(const QString &text);
// Decodes bytes. The five bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) decode to the C1 controls of the same value, so every byte
// string survives a round trip.
QString FromCp1252(const QByteArray &bytes);
// The lines as such a text file holds them: each encoded and ended by CR LF.
QByteArray ToCp1252Lines(const QStringList &lines);

} // namespace platform
