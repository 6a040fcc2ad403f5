// The main window as the user first sees it: title, class, size, menu and
// the emblem on white.
#include "KeyboardInput.h"
#include "QuillmereTest.h"

namespace
{
struct MenuItemText
{
    int popup;
    int position;
    const wchar_t *text;
    UINT id;
};

const wchar_t *const POPUP_TEXTS[] = {L"&File", L"&Options", L"&Help"};
const MenuItemText MENU_ITEMS[] = {
    {0, 0, L"&Open", 32771},      {0, 1, L"E&xit", 105},        {1, 0, L"&Image size", 32773},
    {2, 0, L"&How to use", 32774}, {2, 1, L"&About ...", 104},
};

std::wstring MenuText(HMENU menu, int position)
{
    wchar_t text[128] = L"";
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

} // namespace

TEST_F(QuillmereTest, MainWindowHasItsTitleAndClass)
{
    EXPECT_EQ(app.window, FindWindowW(L"QUILLMERE", L"Quillmere"))
        << "expected FindWindow(class QUILLMERE, title Quillmere) to find the program's window";
    wchar_t text[64] = L"";
    GetWindowTextW(app.window, text, 64);
    EXPECT_STREQ(L"Quillmere", text);
    GetClassNameW(app.window, text, 64);
    EXPECT_STREQ(L"QUILLMERE", text);
}

TEST_F(QuillmereTest, MainWindowHasA284By160ClientAreaUnderItsMenuBar)
{
    RECT client, frame;
    ASSERT_TRUE(GetClientRect(app.window, &client));
    EXPECT_EQ(284, client.right - client.left) << "client width";
    EXPECT_EQ(160, client.bottom - client.top) << "client height";

    const DWORD style = static_cast<DWORD>(GetWindowLongW(app.window, GWL_STYLE));
    EXPECT_EQ(static_cast<DWORD>(WS_OVERLAPPEDWINDOW), style & WS_OVERLAPPEDWINDOW)
        << "expected caption, system menu, sizing border and both boxes; style is " << std::hex << style;
    EXPECT_TRUE(GetMenu(app.window) != NULL) << "expected the window to have a menu bar";
    // The outer size is the one the system gives a window with a menu bar
    // around this client area, so the client area sits right under the menu.
    RECT expected = {0, 0, 284, 160};
    AdjustWindowRectEx(&expected, style, TRUE, static_cast<DWORD>(GetWindowLongW(app.window, GWL_EXSTYLE)));
    ASSERT_TRUE(GetWindowRect(app.window, &frame));
    EXPECT_EQ(expected.right - expected.left, frame.right - frame.left) << "outer width";
    EXPECT_EQ(expected.bottom - expected.top, frame.bottom - frame.top) << "outer height";
}

// Wine keeps menus in the process that made them: GetMenuItemCount and
// GetMenuStringW on the window's menu fail from another process (count -1).
// The menu is therefore read from the program file, the very template the
// window class names; the live menu bar is driven by keys below.
TEST_F(QuillmereTest, MenuHasItsTextsAndCommandIdsInOrder)
{
    HMODULE module = LoadLibraryExW(ProgramPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module != NULL) << "could not load the program file's resources";
    HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(109));
    ASSERT_TRUE(menu != NULL) << "expected menu resource 109";

    ASSERT_EQ(3, GetMenuItemCount(menu)) << "pop-ups in the menu bar";
    for (int popup = 0; popup < 3; ++popup)
        EXPECT_EQ(std::wstring(POPUP_TEXTS[popup]), MenuText(menu, popup)) << "pop-up " << popup;
    const int itemCounts[] = {2, 1, 2};
    for (int popup = 0; popup < 3; ++popup)
        EXPECT_EQ(itemCounts[popup], GetMenuItemCount(GetSubMenu(menu, popup))) << "items under pop-up " << popup;
    for (const MenuItemText &item : MENU_ITEMS)
    {
        HMENU submenu = GetSubMenu(menu, item.popup);
        EXPECT_EQ(std::wstring(item.text), MenuText(submenu, item.position))
            << "pop-up " << item.popup << ", item " << item.position;
        EXPECT_EQ(item.id, GetMenuItemID(submenu, item.position)) << Narrow(item.text);
        EXPECT_EQ(0u, GetMenuState(submenu, item.position, MF_BYPOSITION) & (MF_CHECKED | MF_GRAYED | MF_DISABLED))
            << Narrow(item.text) << " is checked, greyed or disabled";
    }
    DestroyMenu(menu);
    FreeLibrary(module);
}

TEST_F(QuillmereTest, MenuItemsOpenTheirDialogsFromTheKeyboard)
{
    const struct
    {
        wchar_t menu, item;
        const wchar_t *caption;
    } paths[] = {{L'O', L'I', IMAGE_SIZE_CAPTION}, {L'H', L'H', HOW_TO_USE_CAPTION}, {L'H', L'A', ABOUT_CAPTION}};
    for (const auto &path : paths)
    {
        ASSERT_TRUE(ChooseMenuItem(app.window, path.menu, path.item)) << "could not give the window the keys";
        HWND dialog = WaitForDialog(app.process.dwProcessId, path.caption, DIALOG_TIMEOUT_MS);
        ASSERT_TRUE(dialog != NULL) << "expected Alt+" << char(path.menu) << ", " << char(path.item) << " to open \""
                                    << Narrow(path.caption) << "\"";
        ClickDialogButton(dialog, IDOK);
        ASSERT_TRUE(WaitForWindowGone(dialog, DIALOG_TIMEOUT_MS)) << Narrow(path.caption) << " stayed open after OK";
    }
}

TEST_F(QuillmereTest, ShowsTheEmblemOnWhiteBeforeTheFirstOpen)
{
    Picture screen;
    std::string first;
    const int mismatches = WaitForEmblemOnWhite(app.window, &screen, &first);
    ASSERT_GE(mismatches, 0) << first;
    EXPECT_EQ(WHITE, screen.At(200, 100)) << "right of the emblem";
    EXPECT_NE(WHITE, screen.At(64, 64)) << "inside the emblem";
    EXPECT_EQ(0, mismatches) << "expected the emblem at the top-left corner on white; first difference: " << first;
}
