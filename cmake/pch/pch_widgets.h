// What most of the layers with widgets include, precompiled once.
#pragma once
#include "pch_core.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
