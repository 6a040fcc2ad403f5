// The three dialogs, opened the ways a user opens them, and read back from
// the screen.
#include "KeyboardInput.h"
#include "QuillmereTest.h"

#include <algorithm>

namespace
{
// The visible texts of the dialog's static controls, top to bottom.
std::vector<std::wstring> StaticTextsTopToBottom(HWND dialog)
{
    std::vector<ControlInfo> statics;
    for (const ControlInfo &control : ListDialogControls(dialog))
        if (_wcsicmp(control.className.c_str(), L"Static") == 0 && !control.text.empty() && !control.isPicture)
            statics.push_back(control);
    std::stable_sort(statics.begin(), statics.end(),
                     [](const ControlInfo &a, const ControlInfo &b) { return a.rect.top < b.rect.top; });
    std::vector<std::wstring> texts;
    for (const ControlInfo &control : statics)
        texts.push_back(control.text);
    return texts;
}

std::string Joined(const std::vector<std::wstring> &texts)
{
    std::string joined;
    for (const std::wstring &text : texts)
        joined += "\n  \"" + Narrow(text) + "\"";
    return joined;
}

// Presses Esc in the dialog and reports whether it closed.
bool EscapeCloses(HWND dialog)
{
    FocusWindow(dialog);
    PressKey(VK_ESCAPE);
    return WaitForWindowGone(dialog, 1000);
}

void ExpectAboutOpensWithKeys(const RunningApp &app, WORD modifier2, const char *keys)
{
    ASSERT_TRUE(FocusWindow(app.window)) << "could not give the main window the focus";
    PressKey(VK_OEM_2, VK_MENU, modifier2); // the "/" and "?" key of a US keyboard
    HWND about = WaitForDialog(app.process.dwProcessId, ABOUT_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(about != NULL) << "expected " << keys << " to open \"" << Narrow(ABOUT_CAPTION) << "\"; no dialog came";
    EXPECT_TRUE(EscapeCloses(about)) << "expected Esc to close About";
}
} // namespace

TEST_F(QuillmereTest, AboutOpensFromItsMenuCommandAndIsModal)
{
    PostCommand(app, CMD_ABOUT);
    HWND about = WaitForDialog(app.process.dwProcessId, ABOUT_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(about != NULL) << "expected command 104 to open \"" << Narrow(ABOUT_CAPTION) << "\"";
    const std::vector<std::wstring> texts = StaticTextsTopToBottom(about);
    ASSERT_FALSE(texts.empty()) << "About shows no text";
    EXPECT_EQ(L"Quillmere version 1.04", texts[0]) << "top line of About; all lines:" << Joined(texts);
    EXPECT_FALSE(IsWindowEnabled(app.window)) << "expected the main window disabled while About is open";

    EXPECT_TRUE(EscapeCloses(about)) << "expected Esc to close About";
    EXPECT_TRUE(IsWindowEnabled(app.window)) << "expected the main window enabled again";
}

TEST_F(QuillmereTest, AboutShowsTheEmblemAtItsLeft)
{
    Picture emblem;
    ASSERT_TRUE(LoadBmpFile(EmblemPath(), &emblem)) << "could not read the emblem bitmap (QM_E2E_EMBLEM)";
    PostCommand(app, CMD_ABOUT);
    HWND about = WaitForDialog(app.process.dwProcessId, ABOUT_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(about != NULL);
    Sleep(200); // let the dialog finish painting

    HWND picture = NULL;
    RECT pictureRect = {0, 0, 0, 0}, versionRect = {0, 0, 0, 0};
    for (const ControlInfo &control : ListDialogControls(about))
    {
        if (control.isPicture)
        {
            picture = control.window;
            pictureRect = control.rect;
        }
        else if (control.text == L"Quillmere version 1.04")
            versionRect = control.rect;
    }
    ASSERT_TRUE(picture != NULL) << "expected a bitmap picture in About";
    EXPECT_LE(pictureRect.right, versionRect.left) << "expected the picture left of the version line";
    Picture shown;
    ASSERT_TRUE(CaptureClientArea(picture, &shown));
    ASSERT_EQ(emblem.width, shown.width) << "picture width";
    ASSERT_EQ(emblem.height, shown.height) << "picture height";
    EXPECT_TRUE(shown.pixels == emblem.pixels) << "expected the picture to show the emblem pixel for pixel";
    ClickDialogButton(about, IDOK);
}

TEST_F(QuillmereTest, AltSlashOpensAbout)
{
    ExpectAboutOpensWithKeys(app, 0, "Alt+/");
}

TEST_F(QuillmereTest, AltQuestionMarkOpensAbout)
{
    ExpectAboutOpensWithKeys(app, VK_SHIFT, "Alt+? (Alt+Shift+/)");
}

TEST_F(QuillmereTest, HowToUseShowsItsLinesInReadingOrder)
{
    PostCommand(app, CMD_HOW_TO_USE);
    HWND dialog = WaitForDialog(app.process.dwProcessId, HOW_TO_USE_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(dialog != NULL) << "expected command 32774 to open \"" << Narrow(HOW_TO_USE_CAPTION) << "\"";
    const std::vector<std::wstring> expected = {
        L"Select new image size first via Options menu.",
        L"Navigate to image folder in File Open dialog.",
        L"Click Ok to resize all images in selected folder.",
        L"Wait until previews stop flashing by, then",
        L"look for folder \"Resized\" within image folder.",
    };
    const std::vector<std::wstring> shown = StaticTextsTopToBottom(dialog);
    EXPECT_EQ(expected, shown) << "lines top to bottom:" << Joined(shown);
    EXPECT_TRUE(EscapeCloses(dialog)) << "expected Esc to close How to use";
}

TEST_F(QuillmereTest, ImageSizeStartsAt25PercentAndOnlyOkClosesIt)
{
    PostCommand(app, CMD_IMAGE_SIZE);
    HWND dialog = WaitForDialog(app.process.dwProcessId, IMAGE_SIZE_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(dialog != NULL) << "expected command 32773 to open \"" << Narrow(IMAGE_SIZE_CAPTION) << "\"";
    const wchar_t *const labels[] = {L"10%", L"25%", L"50%", L"75%", L"125%", L"150%"};
    for (int i = 0; i < 6; ++i)
    {
        wchar_t text[16] = L"";
        GetWindowTextW(GetDlgItem(dialog, 1001 + i), text, 16);
        EXPECT_STREQ(labels[i], text) << "radio button " << 1001 + i;
        EXPECT_EQ(i == 1 ? BST_CHECKED : BST_UNCHECKED, ReadButtonCheck(dialog, 1001 + i)) << Narrow(labels[i]);
    }

    EXPECT_FALSE(EscapeCloses(dialog)) << "expected Esc to leave Image size open";
    SendWithTimeout(dialog, WM_SYSCOMMAND, SC_CLOSE, 0, NULL);
    EXPECT_FALSE(WaitForWindowGone(dialog, 500)) << "expected the close box to leave Image size open";
    EXPECT_EQ(BST_CHECKED, ReadButtonCheck(dialog, 1002)) << "25% after Esc and the close box";

    ClickDialogButton(dialog, IDOK);
    EXPECT_TRUE(WaitForWindowGone(dialog, DIALOG_TIMEOUT_MS)) << "expected OK to close Image size";
}
