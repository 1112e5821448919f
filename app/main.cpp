#include <QGuiApplication>
#include <QIcon>

#include "program.h"
#include "runtime/program.h"

int main(int argc, char** argv) {
    rt::StartRuntime(argc, argv);
    // The runtime has no call for the program's icon, so it is set on the application object here.
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256, 512}) {
        icon.addFile(QStringLiteral(":/icons/tomato-%1.png").arg(size));
    }
    QGuiApplication::setWindowIcon(icon);
    return ProgramStart();
}
