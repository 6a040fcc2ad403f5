// Procedures of the three modal dialogs.
#pragma once

#include <windows.h>

// About and How to use: OK, Enter, Esc and the close box end the dialog.
INT_PTR CALLBACK SimpleDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Image size: shows the current choice; OK stores the checked one. There is
// no way out but OK, so Esc and the close box do nothing.
INT_PTR CALLBACK ImageSizeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
