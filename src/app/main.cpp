// Entry point of the program; start-up itself is run_program's.
#include <windows.h>

#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
    return run_program(command_line);
}
