// The shell's pieces in-process, with the program's own resources linked
// in: dialog templates and procedures, and the two painters.
#include "TestImages.h"

#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/Painting.h"
#include "batch/ResizeSettings.h"
#include "imaging/ImagingContext.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdlib.h>

namespace
{
HWND OpenDialog(int templateId, DLGPROC procedure)
{
    g_hInstance = GetModuleHandleW(NULL);
    return CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(templateId), NULL, procedure, 0);
}

bool IsChecked(HWND dialog, int id)
{
    return (SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) & BST_CHECKED) != 0;
}

struct StaticLine
{
    int y;
    std::wstring text;
};

BOOL CALLBACK CollectStatic(HWND control, LPARAM lParam)
{
    wchar_t className[16], text[128];
    GetClassNameW(control, className, 16);
    if (_wcsicmp(className, L"Static") != 0 || !GetWindowTextW(control, text, 128))
        return TRUE;
    RECT rect;
    GetWindowRect(control, &rect);
    reinterpret_cast<std::vector<StaticLine> *>(lParam)->push_back(StaticLine{rect.top, text});
    return TRUE;
}
} // namespace

TEST(ImageSizeDialog, OpensWithTheCurrentChoiceChecked)
{
    ApplySizeChoice(ID_SIZE_75);
    HWND dialog = OpenDialog(ID_DLG_IMAGE_SIZE, ImageSizeDialogProc);
    ASSERT_TRUE(dialog != NULL);
    for (const SizeChoice &choice : g_sizeChoices)
        EXPECT_EQ(choice.id == ID_SIZE_75, IsChecked(dialog, choice.id)) << Narrow(choice.label);
    DestroyWindow(dialog);
    ApplySizeChoice(ID_SIZE_25);
}

TEST(ImageSizeDialog, OkStoresTheClickedChoice)
{
    HWND dialog = OpenDialog(ID_DLG_IMAGE_SIZE, ImageSizeDialogProc);
    ASSERT_TRUE(dialog != NULL);
    EXPECT_TRUE(IsChecked(dialog, ID_SIZE_25));
    SendDlgItemMessageW(dialog, ID_SIZE_150, BM_CLICK, 0, 0);
    EXPECT_FALSE(IsChecked(dialog, ID_SIZE_25)) << "the radio buttons must form one group";
    EXPECT_EQ(0.25f, g_scaleFactor.load()) << "nothing is stored before OK";
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(ID_SIZE_150, g_sizeChoiceId);
    EXPECT_EQ(1.5f, g_scaleFactor.load());
    DestroyWindow(dialog);
    ApplySizeChoice(ID_SIZE_25);
}

TEST(ImageSizeDialog, CancelNeitherClosesNorChangesAnything)
{
    HWND dialog = OpenDialog(ID_DLG_IMAGE_SIZE, ImageSizeDialogProc);
    ASSERT_TRUE(dialog != NULL);
    ShowWindow(dialog, SW_SHOW);
    SendDlgItemMessageW(dialog, ID_SIZE_10, BM_CLICK, 0, 0);
    // Esc and the close box arrive as IDCANCEL; ending the dialog would hide it.
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(ID_SIZE_25, g_sizeChoiceId);
    // With nothing checked, OK keeps the setting as it was.
    SendDlgItemMessageW(dialog, ID_SIZE_10, BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(ID_SIZE_25, g_sizeChoiceId);
    EXPECT_EQ(0.25f, g_scaleFactor.load());
    DestroyWindow(dialog);
}

TEST(HowToUseDialog, LinesReadInOrderOnScreen)
{
    HWND dialog = OpenDialog(ID_DLG_HOW_TO_USE, SimpleDialogProc);
    ASSERT_TRUE(dialog != NULL);
    std::vector<StaticLine> lines;
    EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&lines));
    std::stable_sort(lines.begin(), lines.end(), [](const StaticLine &a, const StaticLine &b) { return a.y < b.y; });
    const wchar_t *expected[] = {
        L"Select new image size first via Options menu.", L"Navigate to image folder in File Open dialog.",
        L"Click Ok to resize all images in selected folder.", L"Wait until previews stop flashing by, then",
        L"look for folder \"Resized\" within image folder."};
    ASSERT_EQ(5u, lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(expected[i], lines[i].text) << "line " << i + 1;
    DestroyWindow(dialog);
}

TEST(AboutDialog, ShowsTheEmblemAndTheVersion)
{
    HWND dialog = OpenDialog(ID_DLG_ABOUT, SimpleDialogProc);
    ASSERT_TRUE(dialog != NULL);
    std::vector<StaticLine> lines;
    EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&lines));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"Quillmere version 1.04", lines[0].text);

    HWND picture = NULL;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            picture = child;
    ASSERT_TRUE(picture != NULL);
    HBITMAP emblem = reinterpret_cast<HBITMAP>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP info;
    ASSERT_EQ(static_cast<int>(sizeof(info)), GetObjectW(emblem, sizeof(info), &info));
    EXPECT_EQ(128, info.bmWidth);
    EXPECT_EQ(128, info.bmHeight);
    ShowWindow(dialog, SW_SHOW);
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindowVisible(dialog)) << "Esc must end About";
    DestroyWindow(dialog);
}

namespace
{
int g_lastPaintResult = -1; // what the painter returned for the last WM_PAINT

LRESULT CALLBACK PainterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return DefWindowProcW(window, message, wParam, lParam);
    g_lastPaintResult = g_imaging ? PaintPreview(window) : PaintSplash(window);
    return g_lastPaintResult;
}

class PaintingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleW(NULL);
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = PainterWindowProc;
        windowClass.hInstance = g_hInstance;
        windowClass.lpszClassName = L"QmPainterTest";
        RegisterClassW(&windowClass);
        RECT frame = {0, 0, PREVIEW_BOX_WIDTH, PREVIEW_BOX_HEIGHT};
        AdjustWindowRectEx(&frame, WS_POPUP, FALSE, 0);
        window = CreateWindowExW(WS_EX_TOPMOST, L"QmPainterTest", L"paint", WS_POPUP | WS_VISIBLE, 0, 0,
                                 frame.right - frame.left, frame.bottom - frame.top, NULL, NULL, g_hInstance, NULL);
        ASSERT_TRUE(window != NULL);
        emblem = LoadBitmapW(g_hInstance, MAKEINTRESOURCEW(ID_BMP_EMBLEM));
        ASSERT_TRUE(emblem != NULL);
    }
    void TearDown() override
    {
        g_imaging = NULL;
        DestroyWindow(window);
        DeleteObject(emblem);
        if (scratch.previewBitmap)
            DeleteObject(scratch.previewBitmap);
    }
    void Repaint()
    {
        g_lastPaintResult = -1;
        InvalidateRect(window, NULL, FALSE);
        UpdateWindow(window);
    }
    COLORREF WindowPixel(int x, int y)
    {
        HDC dc = GetDC(window);
        COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(window, dc);
        return colour;
    }
    void ExpectEmblemOnWhite()
    {
        EXPECT_EQ(0, g_lastPaintResult);
        const int points[][2] = {{0, 0}, {64, 64}, {30, 100}, {100, 30}, {127, 127}};
        for (const auto &p : points)
            EXPECT_EQ(BitmapPixel(emblem, p[0], p[1]), WindowPixel(p[0], p[1])) << p[0] << "," << p[1];
        EXPECT_EQ(RGB(255, 255, 255), WindowPixel(200, 100));
        EXPECT_EQ(RGB(255, 255, 255), WindowPixel(60, 150));
    }
    HWND window = NULL;
    HBITMAP emblem = NULL;
    ImagingContext scratch = {};
};

UINT Red(UINT, UINT)
{
    return 0xFF0000;
}
} // namespace

TEST_F(PaintingTest, SplashShowsTheEmblemTopLeftOnWhite)
{
    Repaint();
    ExpectEmblemOnWhite();
}

TEST_F(PaintingTest, PreviewWithoutBitmapShowsTheEmblem)
{
    g_imaging = &scratch;
    Repaint();
    ExpectEmblemOnWhite();
}

TEST_F(PaintingTest, PreviewIsDrawnUnscaledWithWhiteBelow)
{
    Com<IWICBitmap> preview;
    ASSERT_EQ(S_OK, MakeBgrBitmap(284, 95, Red, &preview));
    ASSERT_EQ(S_OK, UpdatePreviewBitmap(&scratch, preview));
    g_imaging = &scratch;
    Repaint();
    EXPECT_EQ(0, g_lastPaintResult);
    EXPECT_EQ(RGB(255, 0, 0), WindowPixel(0, 0));
    EXPECT_EQ(RGB(255, 0, 0), WindowPixel(283, 94));
    EXPECT_EQ(RGB(255, 255, 255), WindowPixel(0, 95));
    EXPECT_EQ(RGB(255, 255, 255), WindowPixel(283, 159));
}

TEST_F(PaintingTest, ManyPaintsLeaveNoGdiObjectsBehind)
{
    Repaint(); // first paint may create cached system objects
    g_imaging = &scratch;
    Repaint();
    const DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 100; ++i)
    {
        g_imaging = (i % 2) ? &scratch : NULL;
        Repaint();
    }
    EXPECT_EQ(before, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
}
