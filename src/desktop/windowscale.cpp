#include "desktop/windowscale.h"

#include "platform/appdir.h"
#include "platform/inifile.h"

#include <QCoreApplication>

namespace {

const QString Section = QStringLiteral("Window");
const QString Key = QStringLiteral("Scale");

struct Choice {
    TWindowScale scale;
    const char *value;
    const char *text;
    double factor;
};
constexpr Choice Choices[] = {
    {TWindowScale::Automatic, "auto", "Automatic", 0},
    {TWindowScale::Percent100, "100", "100 %", 1.0},
    {TWindowScale::Percent150, "150", "150 %", 1.5},
    {TWindowScale::Percent200, "200", "200 %", 2.0},
};

const Choice &ChoiceOf(TWindowScale scale)
{
    for (const Choice &c : Choices) {
        if (c.scale == scale)
            return c;
    }
    return Choices[0];
}

} // namespace

QList<TWindowScale> WindowScales()
{
    QList<TWindowScale> out;
    for (const Choice &c : Choices)
        out << c.scale;
    return out;
}

QString WindowScaleText(TWindowScale scale)
{
    return QString::fromUtf8(ChoiceOf(scale).text);
}

double WindowScaleFactor(TWindowScale scale)
{
    return ChoiceOf(scale).factor;
}

TWindowScale ParseWindowScale(const QString &value)
{
    const QString v = value.trimmed();
    for (const Choice &c : Choices) {
        if (v.compare(QLatin1String(c.value), Qt::CaseInsensitive) == 0)
            return c.scale;
    }
    return TWindowScale::Automatic;
}

QString WindowScaleValue(TWindowScale scale)
{
    return QString::fromLatin1(ChoiceOf(scale).value);
}

TWindowScale ReadWindowScale(const QString &iniFile)
{
    const platform::TIniFile ini(iniFile);
    return ParseWindowScale(ini.ReadString(Section, Key, QStringLiteral("auto")));
}

void SaveWindowScale(const QString &iniFile, TWindowScale scale)
{
    platform::TIniFile ini(iniFile);
    ini.WriteString(Section, Key, WindowScaleValue(scale));
}

void PrepareWindowScale(TWindowScale scale)
{
    const double factor = WindowScaleFactor(scale);
    if (factor <= 0)
        return;
    // The chosen factor alone: the desktop's own factor for the screen (and
    // any of the user's Qt variables) would multiply it.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");
    qunsetenv("QT_USE_PHYSICAL_DPI");
    qputenv("QT_SCALE_FACTOR", QByteArray::number(factor));
}

void PrepareWindowScaleFromSettings(int &argc, char **argv)
{
    TWindowScale scale;
    {
        // Only to find the data folder (beside the program or the user's);
        // it opens no display.
        QCoreApplication locate(argc, argv);
        scale = ReadWindowScale(platform::DataFile(QStringLiteral("idlix2.ini")));
    }
    PrepareWindowScale(scale);
}
