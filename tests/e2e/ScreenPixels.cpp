#include "ScreenPixels.h"

#include <stdio.h>
#include <string.h>

std::string ColourText(UINT colour)
{
    char text[16];
    snprintf(text, sizeof(text), "#%06X", colour & 0xFFFFFF);
    return text;
}

bool CaptureClientArea(HWND window, Picture *picture)
{
    RECT client;
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
        return false;
    const int width = client.right, height = client.bottom;
    POINT origin = {0, 0};
    if (!ClientToScreen(window, &origin))
        return false;

    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    bool captured = false;
    void *bits = NULL;
    // Read from the screen, which is what the user sees. Wine cannot copy
    // from a device context of another process's child window (BitBlt
    // fails), while the screen works for every window.
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (screen && memory && bitmap)
    {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        captured = BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, previous);
    }
    if (captured)
    {
        picture->width = width;
        picture->height = height;
        picture->pixels.assign(static_cast<const UINT *>(bits), static_cast<const UINT *>(bits) + width * height);
        for (UINT &pixel : picture->pixels)
            pixel &= 0xFFFFFF;
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory)
        DeleteDC(memory);
    if (screen)
        ReleaseDC(NULL, screen);
    return captured;
}

bool LoadBmpFile(const std::wstring &path, Picture *picture)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<BYTE> bytes(GetFileSize(file, NULL));
    DWORD read = 0;
    const bool complete = !bytes.empty() && ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, NULL) &&
                          read == bytes.size();
    CloseHandle(file);
    if (!complete || bytes.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))
        return false;

    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER header;
    memcpy(&fileHeader, bytes.data(), sizeof(fileHeader));
    memcpy(&header, bytes.data() + sizeof(fileHeader), sizeof(header));
    if (fileHeader.bfType != 0x4D42 || header.biCompression != BI_RGB ||
        (header.biBitCount != 24 && header.biBitCount != 32) || header.biWidth <= 0 || header.biHeight == 0)
        return false;
    const int width = header.biWidth;
    const bool bottomUp = header.biHeight > 0;
    const int height = bottomUp ? header.biHeight : -header.biHeight;
    const int bytesPerPixel = header.biBitCount / 8;
    const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) & ~static_cast<size_t>(3);
    if (fileHeader.bfOffBits + stride * height > bytes.size())
        return false;

    picture->width = width;
    picture->height = height;
    picture->pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
    {
        const BYTE *row = bytes.data() + fileHeader.bfOffBits + stride * (bottomUp ? height - 1 - y : y);
        for (int x = 0; x < width; ++x)
        {
            const BYTE *pixel = row + x * bytesPerPixel;
            picture->pixels[static_cast<size_t>(y) * width + x] = pixel[2] << 16 | pixel[1] << 8 | pixel[0];
        }
    }
    return true;
}

bool SaveBmpFile(const std::wstring &path, const Picture &picture)
{
    const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) & ~static_cast<size_t>(3);
    const size_t headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    std::vector<BYTE> bytes(headers + stride * picture.height, 0);

    BITMAPFILEHEADER fileHeader;
    ZeroMemory(&fileHeader, sizeof(fileHeader));
    fileHeader.bfType = 0x4D42;
    fileHeader.bfSize = static_cast<DWORD>(bytes.size());
    fileHeader.bfOffBits = static_cast<DWORD>(headers);
    BITMAPINFOHEADER header;
    ZeroMemory(&header, sizeof(header));
    header.biSize = sizeof(header);
    header.biWidth = picture.width;
    header.biHeight = picture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    memcpy(bytes.data(), &fileHeader, sizeof(fileHeader));
    memcpy(bytes.data() + sizeof(fileHeader), &header, sizeof(header));
    for (int y = 0; y < picture.height; ++y)
    {
        BYTE *row = bytes.data() + headers + stride * (picture.height - 1 - y);
        for (int x = 0; x < picture.width; ++x)
        {
            const UINT colour = picture.At(x, y);
            row[x * 3] = static_cast<BYTE>(colour);
            row[x * 3 + 1] = static_cast<BYTE>(colour >> 8);
            row[x * 3 + 2] = static_cast<BYTE>(colour >> 16);
        }
    }

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
    return ok && written == bytes.size();
}
