// [Diagnosis]: what the outage diagnosis may ask besides the probed
// servers. Nothing by default: the program contacts no third party of its
// own accord, only hosts and pages the user names here.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace config {

struct TDiagnosisOptions {
    // Anchors beyond three add time and bytes to every diagnosis and tell
    // nothing the first three did not.
    static constexpr int kMaxAnchors = 3;
    // A longer check URL or expected text is no one's typing.
    static constexpr int kMaxCheckUrl = 1000, kMaxCheckExpect = 200;

    QString CheckUrl;      // an http:// page whose reply is known; empty = none
    QString CheckExpect;   // text the page's reply holds when nothing stands in the way
    QStringList Anchors;   // host names or addresses that answer echoes; at most kMaxAnchors
};

// Why 'url' and 'expect' cannot be the check, in words; empty when they can
// (no URL is "none" and fine). Only plain http: a portal takes over plain web
// requests, and a reply through TLS would only say the certificate is wrong.
// A URL needs the text its reply holds, or no reply could tell a portal.
QString CheckProblem(const QString &url, const QString &expect);

// The anchors of a list typed with commas or blanks between them; nothing,
// and the reason in 'error', for more than kMaxAnchors or a word that is no
// host name or address.
std::optional<QStringList> ParseAnchors(const QString &text, QString *error);

// The anchors as the file and the dialog show them.
QString AnchorsText(const QStringList &anchors);

} // namespace config
