#include "KeyboardInput.h"

#include <wctype.h>

namespace
{
INPUT KeyEvent(WORD key, bool up)
{
    INPUT input;
    ZeroMemory(&input, sizeof(input));
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// Gives the receiving thread time to act on the keys before the next step.
const DWORD SETTLE_MS = 150;
} // namespace

bool FocusWindow(HWND window)
{
    // Windows may refuse the foreground to a call from a process the user
    // is not working in; the check below then fails the caller plainly.
    // Wine grants it.
    SetForegroundWindow(window);
    for (int i = 0; i < 25 && GetForegroundWindow() != window; ++i)
        Sleep(20);
    return GetForegroundWindow() == window;
}

bool PressKey(WORD key, WORD modifier1, WORD modifier2)
{
    INPUT inputs[6];
    UINT count = 0;
    if (modifier1)
        inputs[count++] = KeyEvent(modifier1, false);
    if (modifier2)
        inputs[count++] = KeyEvent(modifier2, false);
    inputs[count++] = KeyEvent(key, false);
    inputs[count++] = KeyEvent(key, true);
    if (modifier2)
        inputs[count++] = KeyEvent(modifier2, true);
    if (modifier1)
        inputs[count++] = KeyEvent(modifier1, true);
    const bool sent = SendInput(count, inputs, sizeof(INPUT)) == count;
    Sleep(SETTLE_MS);
    return sent;
}

bool ChooseMenuItem(HWND window, wchar_t menuMnemonic, wchar_t itemMnemonic)
{
    if (!FocusWindow(window))
        return false;
    // Letter keys have the upper-case letter as their virtual-key code.
    return PressKey(static_cast<WORD>(towupper(menuMnemonic)), VK_MENU) &&
           PressKey(static_cast<WORD>(towupper(itemMnemonic)));
}
