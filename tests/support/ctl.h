// Finds a window's control by its design name (objectName), as tests reach
// the main window's controls: they are the window's own, not public members.
// A name that is not there ends the test program with the name: every
// control the tests ask for exists in every window.
#pragma once

#include <QObject>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

template <typename T>
T *Ctl(const QObject *root, const char *name)
{
    T *found = root ? root->findChild<T *>(QString::fromLatin1(name)) : nullptr;
    if (!found && root && root->objectName() == QLatin1String(name))
        found = qobject_cast<T *>(const_cast<QObject *>(root));
    if (!found) {
        std::fprintf(stderr, "no control named %s (%s) under %s\n", name, typeid(T).name(),
                     root ? qPrintable(root->objectName()) : "nothing");
        std::abort();
    }
    return found;
}

template <typename T>
T *Ctl(const QObject &root, const char *name)
{
    return Ctl<T>(&root, name);
}

template <typename T, typename U>
T *Ctl(const std::unique_ptr<U> &root, const char *name)
{
    return Ctl<T>(root.get(), name);
}
