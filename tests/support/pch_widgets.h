// What most widget tests include, precompiled once: the tests' own set and
// the widget layers'. Not <QTest>: what it declares depends on whether the
// test links Qt Network, which differs between the tests that share this.
#pragma once
#include "pch_core.h"
#include "../../cmake/pch/pch_widgets.h"
