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

// One INI file on disk. Every read looks at the file as it is now, within
// IniReadLimits and only when it is a regular file; every write
// goes to disk at once through a temporary file in the same directory and a
// rename, so a failed or interrupted write never leaves half a file. The file
// is kept readable by its owner only (mode 0600): it holds a password.
class TIniFile {
public:
    explicit TIniFile(const QString &path);

    // The value of key, or def when the file, section or key is missing.
    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // The value as an integer; def when missing or not a number.
    int ReadInteger(const QString &section, const QString &key, int def) const;
    // True for any non-zero integer; def when missing or not a number.
    bool ReadBool(const QString &section, const QString &key, bool def) const;

    // Store a value; throw EIniWriteError when the file cannot be written.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    void WriteBool(const QString &section, const QString &key, bool value);

    // The full path of the file.
    QString FileName() const { return path_; }

private:
    // The file's text; with 'readable' (for a write) whether it may be
    // replaced, and a file past the limits cut to half of them.
    QByteArray load(bool *readable = nullptr) const;
    void store(const QByteArray &content);

    QString path_;
};

} // namespace platform
