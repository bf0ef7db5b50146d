// The common first step of reading a probe URL: the scheme checked and cut
// off, the query taken apart into its parameters.
#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace session {

struct TUrlSplit {
    QString Rest;                               // between the scheme and the '?'
    QList<QPair<QString, QString>> Parameters;  // the query's key=value pairs, in order
};

// Splits 'url' when it starts with 'scheme' ("dns://"; any case); nullopt
// with *error set when it does not.
std::optional<TUrlSplit> SplitUrl(const QString &url, const QString &scheme, QString *error);

// Sets *error (when given) and returns nothing: the end of a parser that
// refuses its input.
template <typename T>
std::optional<T> Refuse(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return std::nullopt;
}

} // namespace session
