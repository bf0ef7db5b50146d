#include "tools/isptreefile.h"

#include "platform/cp1252.h"


namespace tools {

QString ScanPrefix(const QString &scanBase)
{
    const qsizetype dot = scanBase.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : scanBase.left(dot + 1);
}

QString ISPNodeText(const QString &name, const QString &address)
{
    return name + QStringLiteral(" (") + address + QStringLiteral(")");
}

QByteArray ISPTreeFileBytes(const QList<TTreeLine> &nodes)
{
    QStringList lines;
    lines.reserve(nodes.size());
    for (const TTreeLine &node : nodes)
        lines << QString(qMax(node.Level, 0), QLatin1Char('\t')) + node.Text;
    return platform::ToCp1252Lines(lines);
}

} // namespace tools
