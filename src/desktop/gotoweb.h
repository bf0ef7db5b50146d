// Opens Url in the default web browser.
#pragma once

#include <QObject>
#include <QString>

class TGoToWeb : public QObject {
    Q_OBJECT
public:
    explicit TGoToWeb(QObject *parent = nullptr) : QObject(parent) {}

    QString Url;  // the address OpenUrl opens

    // True when the browser was asked to open Url; false when Url is not a
    // web address or no browser could be started.
    bool OpenUrl();
};
