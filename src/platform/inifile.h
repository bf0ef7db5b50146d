// Private-profile INI files: "[Section]" lines open sections, "Key=Value"
// lines follow. Sections and keys match without regard to case; a key that is
// written replaces its line in place, a new key goes to the end of its section
// and a new section to the end of the file. Values are plain text (UTF-8 on
// disk), trimmed of surrounding blanks when read.
//
// The byte-level work is a pair of pure functions (IniFindValue, IniSetValue)
// so it can be tested and fuzzed apart from the file I/O of TIniFile.
#pragma once

#include "platform/boundedread.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>

namespace platform {

// A write the system refused; what() is "Unable to write to <full path>".
class EIniWriteError : public std::runtime_error {
public:
    explicit EIniWriteError(const QString &fullPath);
};

// Looks up key in section of an INI text (LF or CR LF lines). Returns the
// trimmed value of the first matching key line, or nothing when absent.
std::optional<QByteArray> IniFindValue(const QByteArray &text, const QByteArray &section,
                                       const QByteArray &key);

// Returns text with key in section set to value: the matching key line is
// rewritten where it stands, otherwise the key is added after the last line
// of the section, or a new section is added at the end. Every other line
// keeps its bytes. Line breaks inside value are turned into blanks so a value
// can never inject lines. New lines use CR LF when the text already does.
QByteArray IniSetValue(const QByteArray &text, const QByteArray &section, const QByteArray &key,
                       const QByteArray &value);

// The names of the sections of an INI text, in file order; a name that
// comes again (without regard to case) is listed once, where it first stood.
QStringList IniSectionNames(const QByteArray &text);

// Whether an INI text has a section of that name (without regard to case).
bool IniHasSection(const QByteArray &text, const QByteArray &section);

// An integer value as the settings store writes it: optional sign, decimal
// digits, or hexadecimal after "0x", "0X" or "$" (up to 32 bits, taken as the
// bit pattern). Anything else, or a decimal out of int range, gives nothing.
std::optional<int> IniParseInteger(const QByteArray &value);

// How much of a settings file is read. The program's own file is well under
// a KiB; a line may hold a value typed into a field (at most 32767
// characters, three bytes each in UTF-8). What lies beyond these limits is
// skipped, with a notice, and is gone once the file is written again.
inline const TReadLimits IniReadLimits{1024 * 1024, 10000, 128 * 1024, TLineEnds::Lf, {}};

// One INI file read once into memory: reads and writes work on the text in
// memory with the rules above (keys without regard to case, order kept,
// unknown keys and comments kept), and Save() writes the whole of it at once
// through a temporary file in the same directory, one fsync and one rename,
// so a save that fails or is interrupted leaves the old file or the new one,
// never half of the new values. The file is read within IniReadLimits and
// only when it is a regular file, and kept readable by its owner only (mode
// 0600): it holds a password.
class TIniDocument {
public:
    explicit TIniDocument(const QString &path);

    // The value of key, or def when the file, section or key is missing.
    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // The value as an integer; def when missing or not a number.
    int ReadInteger(const QString &section, const QString &key, int def) const;
    // True for any non-zero integer; def when missing or not a number.
    bool ReadBool(const QString &section, const QString &key, bool def) const;

    // Store a value in memory, for the next Save().
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    void WriteBool(const QString &section, const QString &key, bool value);

    // Writes the text to the file. False when the system refuses the write,
    // or when the file was there but could not be read (it is never replaced
    // by one holding only the keys written since).
    bool Save();

    // The full path of the file.
    QString FileName() const { return path_; }

private:
    QString path_;
    QByteArray text_;
    bool readable_ = true;  // missing or read: a save may replace it
    bool cut_ = false;      // the file went past the limits
};

// One INI file on disk, a key at a time: a TIniDocument whose every write
// is saved at once.
class TIniFile : public TIniDocument {
public:
    using TIniDocument::TIniDocument;

    // Store a value; throw EIniWriteError when the file cannot be written.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    void WriteBool(const QString &section, const QString &key, bool value);
};

} // namespace platform
