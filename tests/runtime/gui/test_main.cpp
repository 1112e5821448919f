// One application object for every GUI test; Qt's offscreen platform unless the environment says
// otherwise.
#include "runtime/program.h"
#include "runtime/window.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    rt::StartRuntime(argc, argv);
    const int result = RUN_ALL_TESTS();
    rt::DestroyAllWindows();
    return result;
}
