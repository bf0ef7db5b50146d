// What most widget tests include, precompiled once. Not <QTest>: what it
// declares depends on whether the test links Qt Network, which differs
// between the tests that share this header.
#pragma once
#include "pch_core.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
