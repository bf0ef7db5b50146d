// A locale whose decimal separator is a comma (German), made for the tests
// with localedef into a folder of their own, since a fresh machine has none
// but C and POSIX. Programs find it through LOCPATH.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <clocale>

namespace testsupport {

class CommaLocale {
public:
    static constexpr const char *kName = "de_DE.UTF-8";

    // Builds the locale; empty reason() when it is there.
    CommaLocale()
    {
        if (!dir_.isValid()) {
            reason_ = "no scratch folder";
            return;
        }
        QProcess p;
        p.start(QStringLiteral("localedef"),
                {"-i", "de_DE", "-f", "UTF-8", dir_.filePath(QString::fromLatin1(kName))});
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() > 1)
            reason_ = "localedef could not build de_DE.UTF-8: " + p.readAllStandardError().toStdString();
    }
    std::string reason() const { return reason_; }
    // The folder to give as LOCPATH.
    QString path() const { return dir_.path(); }

    // Switches this process's C locale to it (and back on destruction);
    // false when the C library would not take it or its decimal point is no comma.
    class Use {
    public:
        explicit Use(const CommaLocale &locale)
        {
            const QByteArray old = qgetenv("LOCPATH");
            hadPath_ = qEnvironmentVariableIsSet("LOCPATH");
            oldPath_ = old;
            qputenv("LOCPATH", locale.path().toUtf8());
            const char *was = std::setlocale(LC_ALL, nullptr);
            oldLocale_ = was ? was : "C";
            ok_ = std::setlocale(LC_ALL, kName) && std::localeconv()->decimal_point[0] == ',';
        }
        ~Use()
        {
            std::setlocale(LC_ALL, oldLocale_.c_str());
            if (hadPath_)
                qputenv("LOCPATH", oldPath_);
            else
                qunsetenv("LOCPATH");
        }
        bool ok() const { return ok_; }
    private:
        bool ok_ = false, hadPath_ = false;
        QByteArray oldPath_;
        std::string oldLocale_;
    };

private:
    QTemporaryDir dir_;
    std::string reason_;
};

} // namespace testsupport
