// What most tests of the layers without widgets include, precompiled once:
// the layers' own set, GoogleTest, and what tests use for files, processes
// and time.
#pragma once
#include "../../cmake/pch/pch_core.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
