#include "app/MainWindow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int showState)
{
    return RunApplication(instance, previous, commandLine, showState);
}
