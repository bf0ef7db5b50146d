// How large the window is drawn: the design's pixels at 100 %, 150 % or
// 200 %, or automatically at the screen's pixel density as the desktop sets
// it for that screen. Qt applies the factor to the whole window (its
// geometry, fonts and pictures, which come in 2x drawings for anything above
// 100 %), and takes it only as the application object is made: a change
// shows at the next start.
//
// Stored in idlix2.ini as [Window] Scale=auto|100|150|200 (auto when the key
// is missing or holds anything else).
#pragma once

#include <QList>
#include <QString>

enum class TWindowScale { Automatic, Percent100, Percent150, Percent200 };

// The choices in the order a list offers them.
QList<TWindowScale> WindowScales();
// "Automatic", "100 %", "150 %", "200 %".
QString WindowScaleText(TWindowScale scale);
// The factor of a fixed choice (1, 1.5, 2); 0 for Automatic.
double WindowScaleFactor(TWindowScale scale);

// The value of [Window] Scale= and back.
TWindowScale ParseWindowScale(const QString &value);
QString WindowScaleValue(TWindowScale scale);

// The setting in the given settings file; Automatic when it is not there.
TWindowScale ReadWindowScale(const QString &iniFile);
// Stores the setting; throws platform::EIniWriteError when the file cannot
// be written. The window takes it at the next start.
void SaveWindowScale(const QString &iniFile, TWindowScale scale);

// Sets Qt's scaling for the setting. Must run before the application object
// is made. Automatic leaves Qt to the desktop's factor for each screen (and
// to QT_SCALE_FACTOR or QT_SCREEN_SCALE_FACTORS when the user set them); a
// fixed choice is that factor alone, whatever the desktop's.
void PrepareWindowScale(TWindowScale scale);

// main()'s first step before the application object: reads the setting from
// the data folder's idlix2.ini and prepares it.
void PrepareWindowScaleFromSettings(int &argc, char **argv);
