// Writing the text exposition format: one family at a time, its help and
// type lines first, then its samples.
#pragma once

#include <QByteArray>
#include <QString>

namespace service {

class TFamily {
public:
    TFamily(QByteArray &out, const char *name, const char *type, const char *help) : out_(out)
    {
        out_ += QByteArray("# HELP ") + name + ' ' + help + '\n';
        out_ += QByteArray("# TYPE ") + name + ' ' + type + '\n';
    }
    // name{labels} value; labels already escaped, as 'a="x",b="y"'.
    void Sample(const char *name, const QString &labels, const QByteArray &value)
    {
        out_ += name;
        if (!labels.isEmpty())
            out_ += '{' + labels.toUtf8() + '}';
        out_ += ' ' + value + '\n';
    }

private:
    QByteArray &out_;
};

// name="value", the value escaped.
QString Label(const char *name, const QString &value);

} // namespace service
