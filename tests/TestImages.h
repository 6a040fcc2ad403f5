// Helpers for tests that need real images, files and folders: images are
// made in memory and round-tripped through the platform's own encoders and
// decoders, so every check can be exact.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <string>
#include <vector>

// Owns one COM reference; enough for tests, where every early return
// must still release.
template <class T> class Com
{
public:
    Com() : p(NULL) {}
    ~Com() { Reset(); }
    Com(const Com &) = delete;
    Com &operator=(const Com &) = delete;
    void Reset()
    {
        if (p)
            p->Release();
        p = NULL;
    }
    T **operator&() { Reset(); return &p; }
    T *operator->() const { return p; }
    operator T *() const { return p; }
    T *p;
};

// "0x88982F50"-style text for failure messages.
std::string Hex(HRESULT hr);
std::string Narrow(const std::wstring &text);

IWICImagingFactory *TestFactory();

// A 32bpp BGR bitmap whose pixel (x, y) is colour(x, y) as 0x00RRGGBB.
typedef UINT (*PixelColour)(UINT x, UINT y);
HRESULT MakeBgrBitmap(UINT width, UINT height, PixelColour colour, IWICBitmap **bitmap);
// An 8bpp grey bitmap of zeros: cheap stand-in for large frames.
HRESULT MakeGrayBitmap(UINT width, UINT height, IWICBitmap **bitmap);

// Encodes source as one frame of the given container into a file or into
// memory with the platform's encoder (not the product's writer).
HRESULT EncodeToFile(IWICBitmapSource *source, REFGUID container, const std::wstring &path);
HRESULT EncodeFramesToFile(IWICBitmapSource *const *frames, UINT count, REFGUID container, const std::wstring &path);
HRESULT EncodeToMemory(IWICBitmapSource *source, REFGUID container, IStream **stream);

// Frame 0 of an encoded image.
HRESULT DecodeFrameFromFile(const std::wstring &path, IWICBitmapFrameDecode **frame);
HRESULT DecodeFrameFromStream(IStream *stream, IWICBitmapFrameDecode **frame);
// Container, frame count and size of an image file.
HRESULT ProbeImageFile(const std::wstring &path, GUID *container, UINT *width, UINT *height);

// A fresh empty folder under the temporary folder; RemoveTree deletes it.
std::wstring MakeTempFolder(const wchar_t *tag);
void RemoveTree(const std::wstring &folder);

// The colour at (x, y) of a bitmap as a DC shows it, whatever its row order in memory.
COLORREF BitmapPixel(HBITMAP bitmap, int x, int y);

bool FileExists(const std::wstring &path);
std::vector<BYTE> ReadFileBytes(const std::wstring &path);
bool WriteFileBytes(const std::wstring &path, const void *data, size_t size);
// Names of the entries of a folder, "." and ".." left out, in the order
// the platform lists them, or sorted.
std::vector<std::wstring> ListFolderInListingOrder(const std::wstring &folder);
std::vector<std::wstring> ListFolder(const std::wstring &folder);
