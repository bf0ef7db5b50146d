#include "session/serverhosts.h"

#include "session/serverlistfile.h"

bool TServerHosts::Load(const QString &path)
{
    QStringList entries;
    if (!session::ReadServerListFile(path, entries, &encoding_))
        return false;
    Replace(entries);
    return true;
}

bool TServerHosts::Save(const QString &path) const
{
    return session::WriteServerListFile(path, entries_, encoding_);
}

void TServerHosts::Replace(const QStringList &entries)
{
    entries_ = entries;
    if (OnReset)
        OnReset();
}

void TServerHosts::RemoveAt(int index)
{
    if (index >= 0 && index < entries_.size())
        entries_.removeAt(index);
}
