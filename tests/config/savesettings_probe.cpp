// Test helper: reads the settings file named on the command line, changes
// every option and preference, writes "saving" on standard error and saves
// both (options, then preferences). Exit status 0 when both saves went
// through, 1 when one was refused.
#include "config/optionsfile.h"

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    config::TOptions o;
    config::LoadOptions(path, o);
    o.AntiIdle.Method = (o.AntiIdle.Method + 1) % 3;
    o.AntiIdle.Host = o.AntiIdle.Host + QLatin1String(".new");
    o.Latency.Interval += 1;
    o.DialUp.Password = QLatin1String("changed");
    o.General.StayOnTop = !o.General.StayOnTop;
    o.History.KeepDays = o.History.KeepDays == 30 ? 31 : 30;
    o.Service.MetricsAddress = QLatin1String("127.0.0.1:9417");
    // The marker a tracer finds the start of the saves by.
    if (::write(2, "saving\n", 7) != 7)
        return 2;
    QString error;
    const bool saved = config::SaveOptions(path, o, &error) && config::SavePreferences(path, o, &error);
    return saved ? 0 : 1;
}
