// Real key presses, as the keyboard would deliver them to whichever window
// has the focus.
#pragma once

#include <windows.h>

// Brings the window to the foreground so that it receives the keys.
bool FocusWindow(HWND window);

// Presses key while each of the modifier keys (VK_MENU, VK_SHIFT, VK_CONTROL;
// up to two, 0 for none) is held, then releases them all.
bool PressKey(WORD key, WORD modifier1 = 0, WORD modifier2 = 0);

// Opens a menu of the menu bar with Alt and its mnemonic, then picks an
// item by its mnemonic.
bool ChooseMenuItem(HWND window, wchar_t menuMnemonic, wchar_t itemMnemonic);
