// Reading a written report back as a reader's program does: the PDF's text
// through pdftotext, the HTML's text with its markup taken out.
#pragma once

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QTextDocument>

namespace reporttest {

inline bool HavePoppler() { return !QStandardPaths::findExecutable("pdftotext").isEmpty(); }

// A poppler tool's standard output for the file (empty when it failed).
inline QString Poppler(const QString &tool, QStringList args)
{
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The PDF's text, each table row on a line of its own; blanks run together.
// (Whether a narrow blank between two glyphs is a space is pdftotext's
// guess: compare with Squeezed where it matters.)
inline QString PdfText(const QString &pdf)
{
    return Poppler("pdftotext", {"-layout", pdf, "-"}).simplified();
}

// The text without any blank.
inline QString Squeezed(QString text)
{
    return text.remove(QRegularExpression(QStringLiteral("\\s+")));
}

// The HTML's text as a browser shows it, blanks run together.
inline QString HtmlText(const QString &html)
{
    QFile f(html);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(f.readAll()));
    return doc.toPlainText().simplified();
}

} // namespace reporttest
