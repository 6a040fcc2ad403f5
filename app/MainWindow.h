// The application shell: start-up and shutdown, the main window, its
// message loop and window procedure, and the threads the window starts.
#pragma once

#include <windows.h>

extern HINSTANCE g_hInstance; // module whose resources are loaded; set once at start-up, UI thread

// The GUI entry point; returns the process exit status.
int RunApplication(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int showState);

void RegisterMainWindowClass(HINSTANCE instance);
bool CreateMainWindow(HINSTANCE instance, int showState);

// Thread body started at WM_CREATE: one more repaint about 50 ms later.
void __cdecl StartupRepaintThread(void *window);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
