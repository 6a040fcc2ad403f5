// Pictures of what is on the screen, and of bitmap files, as plain pixel
// arrays that tests can compare.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Picture
{
    int width;
    int height;
    std::vector<UINT> pixels; // 0x00RRGGBB, top row first

    UINT At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

const UINT WHITE = 0xFFFFFF;

// What the window's client area shows on the screen right now; whatever
// covers the window is part of the picture. False if it could not be read.
bool CaptureClientArea(HWND window, Picture *picture);

// Reads an uncompressed 24 or 32 bpp BMP file (either row order).
bool LoadBmpFile(const std::wstring &path, Picture *picture);

// Writes a 24 bpp bottom-up BMP file.
bool SaveBmpFile(const std::wstring &path, const Picture &picture);

// "#RRGGBB" for failure messages.
std::string ColourText(UINT colour);
