// Steers the Shell's folder browser of another process to a folder and
// confirms it, the way a user would pick the folder and click OK.
#pragma once

#include <windows.h>

#include <string>

const int FOLDER_BROWSER_OK = 1;
const int FOLDER_BROWSER_CANCEL = 2;
const int FOLDER_BROWSER_TREE = 14145;

// Selects folder (a full path) in the open folder browser of process. The
// selection is checked through the tree view's selected item. On failure
// error says what was selected instead.
bool SelectFolderInBrowser(HANDLE process, HWND browser, const std::wstring &folder, std::wstring *error);

// Selects folder (a full path) in the open folder browser of process and,
// if that worked, clicks OK. The selection is checked through the tree
// view's selected item before OK is clicked, so a failed selection never
// confirms some other folder. On failure the browser stays open and error
// says why.
bool ChooseFolderInBrowser(HANDLE process, HWND browser, const std::wstring &folder, std::wstring *error);

// Text of the tree view's selected item in the browser, or "" if none.
std::wstring ReadSelectedFolderName(HANDLE process, HWND browser);
