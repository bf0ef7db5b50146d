// The command line of every way the program runs, read by one grammar:
//   idlix [OPTION]                        the window
//   idlix --MODE [ARGUMENT]... [OPTION]   a mode without a window
// The options of the table below mean the same in every mode (-4, -6,
// --config DIR, -h/--help, --version); a mode adds its own options and
// arguments. The Qt toolkit's own options (-platform NAME, and -session from
// the session manager) are left to Qt in the window's mode.
//
// A new mode is one entry of the mode table (commandline.cpp: its name,
// synopsis, options and help lines) and one function that runs it, named in
// the program's list of modes (app/modes.cpp).
#pragma once

#include "platform/resolver.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>

namespace config {

// The exit status of a command line that cannot be understood (sysexits.h's
// EX_USAGE), in every mode.
inline constexpr int kUsageError = 64;

// One option: spelled --Name (or -Name when Name is one character).
struct TOptionSpec {
    const char *Name;
    const char *ValueName;  // what the value stands for ("DIR"), nullptr: a switch
};

// One way the program runs, chosen by --Name.
struct TModeSpec {
    const char *Name;                      // "" the window
    const char *ValueName;                 // --Name VALUE: what the value is, else nullptr
    int MaxArguments;                      // arguments it takes (not options)
    std::span<const TOptionSpec> Options;  // its own options, beside the common ones
    const char *Synopsis;                  // after "idlix " in its usage line
    const char *Summary;                   // its lines in the whole usage text
    const char *Help;                      // what `idlix --Name --help` adds to its usage line
};

// The modes, the window first.
std::span<const TModeSpec> Modes();

// What a command line asks for.
struct TCommandLine {
    QString Mode;                                  // "" the window, else a mode's name
    QString ModeValue;                             // the mode's own value (--report FILE)
    bool Help = false;                             // -h, --help
    bool Version = false;                          // --version
    std::optional<platform::FamilyChoice> Family;  // -4, -6: this run's address family
    QString DataDir;                               // --config DIR: the data folder, empty the usual rules
    QStringList Arguments;                         // the mode's arguments, in order
    QMap<QString, QString> Values;                 // the mode's own options given: name -> value
    QString Error;                                 // why the line is refused (kUsageError)

    bool Has(const char *option) const { return Values.contains(QLatin1String(option)); }
    QString Value(const char *option) const { return Values.value(QLatin1String(option)); }
};

// Reads the arguments after the program's name. A value comes as the next
// argument (never taken for an option) or after '='. impliedMode is the mode
// of a line that names none (the service's own program runs --headless).
TCommandLine ParseCommandLine(const QStringList &args, const QString &impliedMode = QString());

// The usage text: the whole of it for the window, else the mode's.
QString UsageText(const QString &mode = QString());

// What the program prints for a refused line: "idlix: <error>", a blank
// line and the usage of its mode.
QString RefusalText(const TCommandLine &line);

} // namespace config
