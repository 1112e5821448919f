#include "program.h"
#include "runtime/program.h"

int main(int argc, char** argv) {
    rt::StartRuntime(argc, argv);
    return ProgramStart();
}
