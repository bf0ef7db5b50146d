// The ISP tree's texts and the bytes of its saved file (pure functions).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tools {

// What a scan of ScanBase probes: the text up to and including its last ".",
// empty when it has none ("10.1.2.3" gives "10.1.2.").
QString ScanPrefix(const QString &scanBase);
// A tree node: the reverse name followed by the probed address in parentheses.
QString ISPNodeText(const QString &name, const QString &address);

// One node of the tree as the file lists it: its text and nesting level
// (0 for top-level nodes).
struct TTreeLine {
    QString Text;
    int Level = 0;
};
// The saved file: one line per node in tree order, each preceded by one tab
// per nesting level and ended by CR LF, in Windows-1252. No nodes, no bytes.
QByteArray ISPTreeFileBytes(const QList<TTreeLine> &nodes);

} // namespace tools
