#include "app/windowscale.h"

#include "config/options.h"
#include "config/optionsfile.h"
#include "platform/inifile.h"

#include <QCoreApplication>

void PrepareWindowScale(int scale)
{
    if (scale == config::TWindowOptions::Automatic)
        return;
    // The chosen factor alone: the desktop's own factor for the screen (and
    // any of the user's Qt variables) would multiply it.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");
    qunsetenv("QT_USE_PHYSICAL_DPI");
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale / 100.0));
}

void PrepareWindowScaleFromSettings(int &argc, char **argv)
{
    int scale = config::TWindowOptions::Automatic;
    {
        // Only to find the data folder (beside the program or the user's);
        // it opens no display.
        QCoreApplication locate(argc, argv);
        const platform::TIniDocument ini(config::SettingsPath());
        scale = config::ParseScale(ini.ReadString(QStringLiteral("Window"), QStringLiteral("Scale"),
                                                  QString()));
    }
    PrepareWindowScale(scale);
}
