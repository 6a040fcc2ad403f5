// The fixture of the end-to-end tests: each test gets a freshly started
// Quillmere.exe and an empty folder of its own, and both are gone again
// afterwards, whatever the test did to them.
#pragma once

#include "AppSession.h"
#include "ScreenPixels.h"
#include "../TestImages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Paths handed over by CTest in the environment (host paths are accepted).
std::wstring ProgramPath(); // QM_E2E_PROGRAM: the Quillmere.exe under test
std::wstring EmblemPath();  // QM_E2E_EMBLEM: the emblem bitmap the program was built with

// Colour functions for test images (0x00RRGGBB).
UINT SolidGreen(UINT x, UINT y);
UINT RedOverBlue200(UINT x, UINT y); // rows 0..99 red, from row 100 on blue
UINT NoisePattern(UINT x, UINT y);   // noise that compresses badly, so that writing a PNG of it takes a while

// Bounds of the waits; generous against a slow machine, short enough that a
// hang fails the test quickly.
const DWORD START_TIMEOUT_MS = 10000;
const DWORD BROWSER_TIMEOUT_MS = 15000;
const DWORD DIALOG_TIMEOUT_MS = 5000;
const DWORD EXIT_TIMEOUT_MS = 5000;
const DWORD BATCH_TIMEOUT_MS = 30000;
// How long a dropped command is given to show a dialog after all.
const DWORD NO_DIALOG_WAIT_MS = 500;

class QuillmereTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Encodes a width x height image into the test folder.
    std::wstring WriteImage(const wchar_t *name, UINT width, UINT height, PixelColour colour, REFGUID container);

    // Posts Open and waits for the folder browser; NULL when it did not come.
    HWND OpenFolderBrowser();

    // Open, pick folder in the browser and confirm it. Fails the test if the
    // browser does not open or cannot be steered to the folder.
    void StartBatchOn(const std::wstring &folder);

    // Writes imageCount noise PNGs of width x height (slow to encode at
    // 150 %), starts a batch at 150 % on the test folder and waits until its
    // first output shows in Resized.
    void StartLongBatch(int imageCount, UINT width, UINT height);

    // Picks the radio button of that id in Options > Image size and confirms it.
    void ChooseImageSize(int button);

    // Waits until the batch has ended (commands are accepted again).
    void WaitForBatchEnd();

    // Fails the test if any dialog opens within NO_DIALOG_WAIT_MS, except
    // one with the caption allowed (NULL: none allowed).
    void ExpectNoDialogAppears(const wchar_t *allowed);

    // A stopped batch: fewer than imageCount copies in Resized, each one
    // whole, and no temporary file.
    void ExpectStoppedEarlyWithWholeCopies(int imageCount);

    std::wstring ResizedFolder() const { return folder + L"\\Resized"; }

    RunningApp app;
    std::wstring folder;
};

// Waits up to 2 s for the client area to show the emblem (QM_E2E_EMBLEM)
// at its top-left corner on white. Returns the number of differing pixels
// in the last picture taken, with the first one described in first, or -1
// (first says why) if nothing could be compared.
int WaitForEmblemOnWhite(HWND window, Picture *screen, std::string *first);

// The size of an image file, or 0 x 0 if it cannot be read.
SIZE ImageFileSize(const std::wstring &path);

// Decodes frame 0 of the file down to its last pixel; S_OK only for a
// complete image.
HRESULT DecodeCompletely(const std::wstring &path);

// Names in list that end with suffix (case-insensitive).
std::vector<std::wstring> NamesEndingWith(const std::vector<std::wstring> &list, const wchar_t *suffix);
