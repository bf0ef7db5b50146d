// Shared main of the GoogleTest binaries: one QApplication for the whole run so
// that widgets, timers, socket notifiers and posted messages work in tests.
//
// Exit status, which CTest reads: 1 when a case failed or the filter selected
// no case at all (a run that tested nothing is no pass), 77 when every selected
// case skipped (CTest's SKIP_RETURN_CODE), 0 otherwise. So a binary run as one
// CTest test is reported skipped only when nothing in it ran, and a case that
// skips never hides one that failed.
// Built twice: with IDLIX_TEST_CORE for the layers that link no Qt Widgets
// (a QCoreApplication), and without it for the rest (a QApplication).
#ifdef IDLIX_TEST_CORE
#include <QCoreApplication>
using TTestApplication = QCoreApplication;
#else
#include <QApplication>
using TTestApplication = QApplication;
#endif
#include <cstdio>
#include <gtest/gtest.h>

namespace {
constexpr int kAllSkipped = 77;
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the cases (how CTest learns them) needs no display connection.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TTestApplication app(argc, argv);
    if (RUN_ALL_TESTS() != 0)
        return 1;

    const ::testing::UnitTest &run = *::testing::UnitTest::GetInstance();
    if (run.test_to_run_count() == 0) {
        std::fprintf(stderr, "No test case matches the filter: nothing was tested.\n");
        return 1;
    }
    if (run.skipped_test_count() == run.test_to_run_count())
        return kAllSkipped;
    return 0;
}
