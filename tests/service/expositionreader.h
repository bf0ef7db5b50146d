// The text format read back by a small reader written from the format's
// rules, for the metrics tests.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cmath>
#include <map>

namespace {

// One exposition read back: sample values by "name{labels}" (labels as
// written) in the order written, and the type of each family. Whether the
// text keeps the format's rules (families whole, TYPE first, escapes) is
// promtool's to say (PrometheusOwnCheckerAcceptsTheText); a line this
// reader cannot split is an error all the same.
struct Exposition {
    std::map<QString, double> samples;
    std::map<QString, QString> types;
    QStringList order;
    QString error;

    double value(const QString &key) const
    {
        const auto it = samples.find(key);
        return it == samples.end() ? std::nan("") : it->second;
    }
    bool has(const QString &key) const { return samples.count(key) != 0; }
};

Exposition Read(const QByteArray &text)
{
    Exposition e;
    for (const QString &line : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("# TYPE "))
            e.types[line.section(' ', 2, 2)] = line.section(' ', 3);
        if (line.startsWith('#'))
            continue;
        // The value follows the last blank; label values may hold blanks.
        const int blank = line.lastIndexOf(' ');
        bool ok = false;
        const QString v = line.mid(blank + 1);
        const double value = v == "+Inf" ? INFINITY : v.toDouble(&ok);
        if (blank < 0 || (!ok && v != "+Inf") || e.samples.count(line.left(blank)))
            e.error += " unreadable or repeated: " + line;
        e.samples[line.left(blank)] = value;
        e.order << line.left(blank);
    }
    return e;
}

} // namespace
