// idlix2.ini: the option values read from and written to the settings file.
//
// The file keeps the sections and keys it always had, in the same order on a
// first save; the preferences (window size, history, notifications, network,
// service) live in sections of their own after them, written only when the
// user saves the Preferences dialog.
#pragma once

#include "config/options.h"

#include <QString>

namespace config {

// File name of the settings in the data folder (platform/appdir.h).
inline constexpr char SettingsFileName[] = "idlix2.ini";

// Full path of the settings file.
QString SettingsPath();

// Reads every key of the file (read once) into 'options'. A missing file or key gives
// the key's default; numbers are clamped to their ranges and the method and
// trace mode indexes to their items (below -1 = none, past the end = the
// last). Each digit 0..3 found in "Options" checks its item; an item whose
// digit is missing keeps its state. The stored connection index is taken as
// it is. The proxy, which is never stored, is left alone.
void LoadOptions(const QString &path, TOptions &options);

// Writes the option sections, key by key in their fixed order, in one write
// of the file: all of them or, when the system refuses the write, none
// (false, with "Unable to write to <path>" in 'error').
bool SaveOptions(const QString &path, const TOptions &options, QString *error);

// Writes the preference sections the same way (one write of the file).
bool SavePreferences(const QString &path, const TOptions &options, QString *error);

// Writes the History window's section (the range last chosen) the same way,
// as soon as the user chooses.
bool SaveHistoryWindow(const QString &path, const THistoryWindowOptions &options, QString *error);

// The texts of the preference values in the file.
QString ScaleText(int scale);             // "auto", "100", "150", "200"
int ParseScale(const QString &text);      // anything else -> automatic
QString FamilyText(int family);           // "auto", "ipv4", "ipv6"
int ParseFamily(const QString &text);     // anything else -> automatic

} // namespace config
