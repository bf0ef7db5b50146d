// What the service pushes to a Prometheus-compatible receiver, without any
// input or output: the figures of the text exposition read back as series,
// the extra labels of the settings, and the body of a remote-write request
// (protobuf, compressed in snappy's block format) and its reading back.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <utility>
#include <vector>

namespace service {

// A series' labels sorted by name, its metric name as "__name__".
using TLabels = std::vector<std::pair<std::string, std::string>>;

struct TSeriesValue {
    TLabels Labels;
    double Value = 0;
};

struct TRemoteSample {
    qint64 AtMs = 0;      // milliseconds since the epoch, UTC
    double Value = 0;
};

struct TTimeSeries {
    TLabels Labels;
    std::vector<TRemoteSample> Samples;   // oldest first
};

// The samples of a text exposition (version 0.0.4), each with 'extra' added
// to its labels (a label the text already has keeps its own value); comment
// lines and lines that cannot be read are left out.
std::vector<TSeriesValue> ParseExposition(const QByteArray &text, const TLabels &extra = {});

// "site=shop,line=mobile" -> labels. A name as Prometheus allows them (not
// starting with "__"), each once; a value of anything but a comma. False
// with the reason when the text cannot be read.
bool ParseExtraLabels(const QString &text, TLabels *labels, QString *error);

// The body of a remote-write request holding 'series'.
QByteArray EncodeWriteRequest(const std::vector<TTimeSeries> &series);
// A body read back; false with the reason when it is not one.
bool DecodeWriteRequest(const QByteArray &body, std::vector<TTimeSeries> *series, QString *error);

// "a\x1fx\x1eb\x1fy": the labels as one key, and back.
std::string LabelsKey(const TLabels &labels);
TLabels LabelsFromKey(const std::string &key);

} // namespace service
