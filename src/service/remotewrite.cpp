#include "service/remotewrite.h"

#include "remotewrite.pb.h"

#include <snappy.h>

#include <QList>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace service {

namespace {

constexpr char kNameKey[] = "__name__";
constexpr char kUnitSep = '\x1f', kRecordSep = '\x1e';

bool IsNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsNameChar(char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9');
}

bool IsLabelName(const std::string &name)
{
    return !name.empty() && IsNameStart(name[0])
        && std::all_of(name.begin(), name.end(), IsNameChar);
}

// Reads one sample line; false when it is not one.
bool ReadLine(const std::string &line, TSeriesValue *out)
{
    size_t i = 0;
    const size_t n = line.size();
    while (i < n && (IsNameChar(line[i]) || line[i] == ':'))
        ++i;
    if (i == 0 || (!IsNameStart(line[0]) && line[0] != ':'))
        return false;
    out->Labels.clear();
    out->Labels.emplace_back(kNameKey, line.substr(0, i));
    if (i < n && line[i] == '{') {
        ++i;
        while (true) {
            while (i < n && line[i] == ' ')
                ++i;
            if (i < n && line[i] == '}') {
                ++i;
                break;
            }
            const size_t start = i;
            while (i < n && IsNameChar(line[i]))
                ++i;
            std::string name = line.substr(start, i - start);
            if (!IsLabelName(name) || i + 1 >= n || line[i] != '=' || line[i + 1] != '"')
                return false;
            i += 2;
            std::string value;
            for (;; ++i) {
                if (i >= n)
                    return false;
                if (line[i] == '"')
                    break;
                if (line[i] == '\\' && i + 1 < n) {
                    ++i;
                    value += line[i] == 'n' ? '\n' : line[i];
                } else {
                    value += line[i];
                }
            }
            ++i;
            out->Labels.emplace_back(std::move(name), std::move(value));
            if (i < n && line[i] == ',')
                ++i;
        }
    }
    while (i < n && line[i] == ' ')
        ++i;
    const size_t end = line.find(' ', i);
    const std::string text = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
    if (text == "+Inf") {
        out->Value = std::numeric_limits<double>::infinity();
    } else if (text == "-Inf") {
        out->Value = -std::numeric_limits<double>::infinity();
    } else if (text == "NaN") {
        out->Value = std::numeric_limits<double>::quiet_NaN();
    } else {
        bool ok = false;
        out->Value = QByteArray::fromStdString(text).toDouble(&ok);
        if (!ok)
            return false;
    }
    return true;
}

void SortLabels(TLabels &labels)
{
    std::stable_sort(labels.begin(), labels.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
}

} // namespace

std::vector<TSeriesValue> ParseExposition(const QByteArray &text, const TLabels &extra)
{
    std::vector<TSeriesValue> out;
    for (const QByteArray &raw : text.split('\n')) {
        const std::string line = raw.trimmed().toStdString();
        if (line.empty() || line[0] == '#')
            continue;
        TSeriesValue value;
        if (!ReadLine(line, &value))
            continue;
        for (const auto &label : extra) {
            const bool has = std::any_of(value.Labels.begin(), value.Labels.end(),
                                         [&](const auto &l) { return l.first == label.first; });
            if (!has)
                value.Labels.push_back(label);
        }
        SortLabels(value.Labels);
        out.push_back(std::move(value));
    }
    return out;
}

bool ParseExtraLabels(const QString &text, TLabels *labels, QString *error)
{
    labels->clear();
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int eq = part.indexOf(QLatin1Char('='));
        const std::string name = part.left(eq).trimmed().toStdString();
        if (eq < 0 || !IsLabelName(name) || name.rfind("__", 0) == 0) {
            *error = QStringLiteral("'%1' is not a label: NAME=VALUE, the name of letters, digits and "
                                    "underscores, not starting with a digit or two underscores")
                         .arg(part.trimmed());
            return false;
        }
        for (const auto &l : *labels) {
            if (l.first == name) {
                *error = QStringLiteral("the label '%1' is given twice").arg(QString::fromStdString(name));
                return false;
            }
        }
        labels->emplace_back(name, part.mid(eq + 1).trimmed().toStdString());
    }
    SortLabels(*labels);
    return true;
}

QByteArray EncodeWriteRequest(const std::vector<TTimeSeries> &series)
{
    prometheus::WriteRequest request;
    for (const TTimeSeries &s : series) {
        prometheus::TimeSeries *ts = request.add_timeseries();
        for (const auto &[name, value] : s.Labels) {
            prometheus::Label *l = ts->add_labels();
            l->set_name(name);
            l->set_value(value);
        }
        for (const TRemoteSample &sample : s.Samples) {
            prometheus::Sample *p = ts->add_samples();
            p->set_value(sample.Value);
            p->set_timestamp(sample.AtMs);
        }
    }
    const std::string plain = request.SerializeAsString();
    std::string packed;
    snappy::Compress(plain.data(), plain.size(), &packed);
    return QByteArray::fromStdString(packed);
}

bool DecodeWriteRequest(const QByteArray &body, std::vector<TTimeSeries> *series, QString *error)
{
    series->clear();
    std::string plain;
    if (!snappy::Uncompress(body.constData(), size_t(body.size()), &plain)) {
        *error = QStringLiteral("not in snappy's block format");
        return false;
    }
    prometheus::WriteRequest request;
    if (!request.ParseFromString(plain)) {
        *error = QStringLiteral("not a write request");
        return false;
    }
    for (const prometheus::TimeSeries &ts : request.timeseries()) {
        TTimeSeries s;
        for (const prometheus::Label &l : ts.labels())
            s.Labels.emplace_back(l.name(), l.value());
        for (const prometheus::Sample &p : ts.samples())
            s.Samples.push_back({p.timestamp(), p.value()});
        series->push_back(std::move(s));
    }
    return true;
}

std::string LabelsKey(const TLabels &labels)
{
    std::string key;
    for (const auto &[name, value] : labels) {
        if (!key.empty())
            key += kRecordSep;
        key += name;
        key += kUnitSep;
        key += value;
    }
    return key;
}

TLabels LabelsFromKey(const std::string &key)
{
    TLabels labels;
    size_t start = 0;
    while (start < key.size()) {
        size_t end = key.find(kRecordSep, start);
        if (end == std::string::npos)
            end = key.size();
        const size_t sep = key.find(kUnitSep, start);
        if (sep != std::string::npos && sep < end)
            labels.emplace_back(key.substr(start, sep - start), key.substr(sep + 1, end - sep - 1));
        start = end + 1;
    }
    return labels;
}

} // namespace service
