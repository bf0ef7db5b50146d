#include "platform/inifile.h"

#include "platform/boundedread.h"
#include "platform/replacefile.h"

#include <QFileInfo>
#include <QSet>
#include <vector>

namespace platform {

EIniWriteError::EIniWriteError(const QString &fullPath)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(fullPath).toStdString())
{
}

namespace {

// One line of the text: [begin, end) is the content without its line break,
// next is where the following line starts.
struct Line {
    qsizetype begin, end, next;
};

enum class LineKind { Other, Section, Key };

std::vector<Line> splitLines(const QByteArray &text)
{
    std::vector<Line> lines;
    // A byte-order mark written by some editors is not part of the first line.
    qsizetype pos = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < text.size()) {
        qsizetype nl = text.indexOf('\n', pos);
        qsizetype next = nl < 0 ? text.size() : nl + 1;
        qsizetype end = nl < 0 ? text.size() : nl;
        if (end > pos && text[end - 1] == '\r')
            --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

// Classifies a line; for a section its name, for a key its name and value.
LineKind classify(const QByteArray &text, const Line &l, QByteArray *name, QByteArray *value)
{
    QByteArray s = text.mid(l.begin, l.end - l.begin).trimmed();
    if (s.isEmpty() || s.startsWith(';'))
        return LineKind::Other;
    if (s.startsWith('[')) {
        qsizetype close = s.indexOf(']');
        *name = (close < 0 ? s.mid(1) : s.mid(1, close - 1)).trimmed();
        return LineKind::Section;
    }
    qsizetype eq = s.indexOf('=');
    if (eq <= 0)
        return LineKind::Other;
    *name = s.left(eq).trimmed();
    if (name->isEmpty())
        return LineKind::Other;
    if (value)
        *value = s.mid(eq + 1).trimmed();
    return LineKind::Key;
}

QByteArray oneLine(QByteArray value)
{
    value.replace('\r', ' ');
    value.replace('\n', ' ');
    return value;
}

} // namespace

std::optional<QByteArray> IniFindValue(const QByteArray &text, const QByteArray &section,
                                       const QByteArray &key)
{
    bool inSection = false;
    QByteArray name, value;
    for (const Line &l : splitLines(text)) {
        switch (classify(text, l, &name, &value)) {
        case LineKind::Section:
            inSection = sameName(name, section);
            break;
        case LineKind::Key:
            if (inSection && sameName(name, key))
                return value;
            break;
        case LineKind::Other:
            break;
        }
    }
    return std::nullopt;
}

QStringList IniSectionNames(const QByteArray &text)
{
    QStringList names;
    // Names seen so far, case-folded: a book of many sections is listed in
    // one pass, not by searching the list for each name.
    QSet<QString> seen;
    QByteArray name;
    for (const Line &l : splitLines(text)) {
        if (classify(text, l, &name, nullptr) != LineKind::Section || name.isEmpty())
            continue;
        const QString n = QString::fromUtf8(name);
        const QString folded = n.toCaseFolded();
        if (seen.contains(folded))
            continue;
        seen.insert(folded);
        names << n;
    }
    return names;
}

bool IniHasSection(const QByteArray &text, const QByteArray &section)
{
    QByteArray name;
    for (const Line &l : splitLines(text)) {
        if (classify(text, l, &name, nullptr) == LineKind::Section && sameName(name, section))
            return true;
    }
    return false;
}

QByteArray IniSetValue(const QByteArray &text, const QByteArray &section, const QByteArray &key,
                       const QByteArray &value)
{
    const std::vector<Line> lines = splitLines(text);
    const QByteArray eol = (!lines.empty() && lines[0].next > lines[0].end + 1) ? "\r\n" : "\n";
    const QByteArray entry = key + '=' + oneLine(value);

    bool inSection = false;
    qsizetype insertAt = -1;  // end of the last non-blank line of the first matching section
    bool firstSectionDone = false;
    QByteArray name;
    for (const Line &l : lines) {
        switch (classify(text, l, &name, nullptr)) {
        case LineKind::Section:
            if (inSection)
                firstSectionDone = true;
            inSection = sameName(name, section);
            if (inSection && !firstSectionDone && insertAt < 0)
                insertAt = l.next;
            break;
        case LineKind::Key:
            if (inSection && sameName(name, key)) {
                QByteArray out = text.left(l.begin);
                out += entry;
                out += text.mid(l.end);
                return out;
            }
            [[fallthrough]];
        case LineKind::Other:
            if (inSection && !firstSectionDone && l.end > l.begin
                && !text.mid(l.begin, l.end - l.begin).trimmed().isEmpty())
                insertAt = l.next;
            break;
        }
    }

    QByteArray out = text;
    if (insertAt >= 0) {
        // The section's last line may be the unterminated last line of the file.
        QByteArray add = entry + eol;
        if (insertAt == text.size() && !text.isEmpty() && !text.endsWith('\n'))
            add = eol + entry;
        out.insert(insertAt, add);
        return out;
    }
    if (!out.isEmpty() && !out.endsWith('\n'))
        out += eol;
    out += '[' + section + ']' + eol + entry + eol;
    return out;
}

std::optional<int> IniParseInteger(const QByteArray &value)
{
    QByteArray s = value.trimmed();
    bool negative = false;
    if (s.startsWith('-') || s.startsWith('+')) {
        negative = s.startsWith('-');
        s = s.mid(1);
    }
    int base = 10;
    if (s.startsWith('$')) {
        base = 16;
        s = s.mid(1);
    } else if (s.startsWith("0x") || s.startsWith("0X")) {
        base = 16;
        s = s.mid(2);
    }
    if (s.isEmpty() || s.size() > 10)
        return std::nullopt;
    unsigned long long n = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        n = n * base + d;
    }
    if (base == 16) {
        if (n > 0xFFFFFFFFull)
            return std::nullopt;
        auto bits = static_cast<std::uint32_t>(n);
        if (negative)
            bits = 0u - bits;
        return static_cast<int>(bits);
    }
    long long v = negative ? -static_cast<long long>(n) : static_cast<long long>(n);
    if (v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return static_cast<int>(v);
}

TIniDocument::TIniDocument(const QString &path) : path_(QFileInfo(path).absoluteFilePath())
{
    const TBoundedText read = ReadBoundedText(path_, IniReadLimits);
    // A missing file is simply empty; one that exists but cannot be read (or
    // is no file at all) must not be replaced by one holding only the keys
    // written.
    readable_ = read.status == TReadStatus::Read || read.status == TReadStatus::Missing;
    cut_ = read.cut != TReadCut::None;
    text_ = read.text;
}

QString TIniDocument::ReadString(const QString &section, const QString &key, const QString &def) const
{
    auto v = IniFindValue(text_, section.toUtf8(), key.toUtf8());
    return v ? QString::fromUtf8(*v) : def;
}

int TIniDocument::ReadInteger(const QString &section, const QString &key, int def) const
{
    auto v = IniFindValue(text_, section.toUtf8(), key.toUtf8());
    if (!v)
        return def;
    return IniParseInteger(*v).value_or(def);
}

bool TIniDocument::ReadBool(const QString &section, const QString &key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniDocument::WriteString(const QString &section, const QString &key, const QString &value)
{
    if (cut_) {
        // About to be written, a file past the limits is written anew from
        // the first half of them only: keys added at its end (new sections
        // go there) must still be within the limits when it is read again,
        // or they would be dropped by the next read and written away with
        // the rest.
        TReadLimits keep = IniReadLimits;
        keep.maxBytes /= 2;
        keep.maxLines /= 2;
        text_ = BoundText(text_, keep).text;
        cut_ = false;
    }
    text_ = IniSetValue(text_, section.toUtf8(), key.toUtf8(), value.toUtf8());
}

void TIniDocument::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

void TIniDocument::WriteBool(const QString &section, const QString &key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TIniDocument::Save()
{
    // Owner only: the file holds the dial-up password.
    return readable_ && ReplaceFile(path_, text_, TFileAccess::OwnerOnly);
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    TIniDocument::WriteString(section, key, value);
    if (!Save())
        throw EIniWriteError(FileName());
}

void TIniFile::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString &section, const QString &key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace platform
