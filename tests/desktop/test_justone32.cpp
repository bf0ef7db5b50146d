// One running instance: the later one asks the running one to come to the
// front and ends; the running one raises its main window.
#include "desktop/justone32.h"
#include "desktop/instanceguard.h"

#include "../support/testutil.h"

#include <QApplication>
#include <QFile>
#include <QUuid>
#include <QWidget>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(JustOne32, BringToFrontRestoresTheTitledWindow)
{
    QApplication::setApplicationDisplayName("Idlix v2.0");
    QWidget anchor(nullptr, Qt::Tool | Qt::FramelessWindowHint);  // same title, zero size
    anchor.setWindowTitle("Idlix v2.0");
    anchor.setGeometry(5000, 5000, 0, 0);
    QWidget other;
    other.setWindowTitle("Something else");
    QWidget main;
    main.setWindowTitle("Idlix v2.0");
    main.resize(449, 252);
    main.showMinimized();
    main.hide();

    TJustOne32::BringToFront();
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(main.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(anchor.isVisible());
    EXPECT_FALSE(other.isVisible());

    // An explicit caption picks that window instead.
    TJustOne32::BringToFront("Something else");
    EXPECT_TRUE(other.isVisible());
}

TEST(JustOne32, LaterInstanceActivatesTheRunningOneAndEnds)
{
    const QString title = "Idlix test " + QUuid::createUuid().toString(QUuid::WithoutBraces);
    TPreviousInstance running(title);
    EXPECT_FALSE(running.Exists());
    TJustOne32 guard(nullptr, &running);
    EXPECT_FALSE(guard.Terminating());
    int raised = 0;
    guard.OnActivate = [&] { ++raised; };

    TPreviousInstance starting(title);
    EXPECT_TRUE(starting.Exists());
    TJustOne32 second(nullptr, &starting);
    EXPECT_TRUE(second.Terminating());
    EXPECT_TRUE(testutil::waitFor([&] { return raised == 1; }, 3000ms));

    // Without a guard the component does nothing.
    TJustOne32 unguarded(nullptr, nullptr);
    EXPECT_FALSE(unguarded.Terminating());
    QFile::remove(desktop::TInstanceGuard::LockPath(title));
}
