#include "DialogTests.h"

#include <QApplication>
#include <QTest>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Closing the last dialog must not end the test run.
    QApplication::setQuitOnLastWindowClosed(false);
    int failures = 0;
    for (auto make :
         {ov::test::makeOptionsTest, ov::test::makeLogViewerTest, ov::test::makeAboutTest,
          ov::test::makeOpenLinkTest, ov::test::makeMenuTest}) {
        auto test = make();
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
