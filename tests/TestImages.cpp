#include "TestImages.h"

#include "imaging/ImagingContext.h"

#include <algorithm>
#include <stdio.h>

std::string Hex(HRESULT hr)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string Narrow(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], size, NULL, NULL);
    return result;
}

IWICImagingFactory *TestFactory()
{
    CreateImagingContext();
    return g_imaging ? g_imaging->factory : NULL;
}

HRESULT MakeBgrBitmap(UINT width, UINT height, PixelColour colour, IWICBitmap **bitmap)
{
    std::vector<UINT> pixels(static_cast<size_t>(width) * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = colour ? colour(x, y) : 0;
    return TestFactory()->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat32bppBGR, width * 4,
                                                 static_cast<UINT>(pixels.size() * 4),
                                                 reinterpret_cast<BYTE *>(pixels.data()), bitmap);
}

HRESULT MakeGrayBitmap(UINT width, UINT height, IWICBitmap **bitmap)
{
    return TestFactory()->CreateBitmap(width, height, GUID_WICPixelFormat8bppGray, WICBitmapCacheOnLoad, bitmap);
}

static HRESULT EncodeFrames(IWICBitmapSource *const *frames, UINT count, REFGUID container, IStream *stream)
{
    Com<IWICBitmapEncoder> encoder;
    HRESULT hr = TestFactory()->CreateEncoder(container, NULL, &encoder);
    if (FAILED(hr))
        return hr;
    hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    for (UINT i = 0; SUCCEEDED(hr) && i < count; ++i)
    {
        Com<IWICBitmapFrameEncode> frame;
        UINT width = 0, height = 0;
        WICPixelFormatGUID format;
        hr = encoder->CreateNewFrame(&frame, NULL);
        if (SUCCEEDED(hr)) hr = frame->Initialize(NULL);
        if (SUCCEEDED(hr)) hr = frames[i]->GetSize(&width, &height);
        if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
        if (SUCCEEDED(hr)) hr = frames[i]->GetPixelFormat(&format);
        if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
        if (SUCCEEDED(hr)) hr = frame->WriteSource(frames[i], NULL);
        if (SUCCEEDED(hr)) hr = frame->Commit();
    }
    if (SUCCEEDED(hr))
        hr = encoder->Commit();
    return hr;
}

HRESULT EncodeFramesToFile(IWICBitmapSource *const *frames, UINT count, REFGUID container, const std::wstring &path)
{
    Com<IWICStream> stream;
    HRESULT hr = TestFactory()->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr))
        hr = EncodeFrames(frames, count, container, stream);
    return hr;
}

HRESULT EncodeToFile(IWICBitmapSource *source, REFGUID container, const std::wstring &path)
{
    return EncodeFramesToFile(&source, 1, container, path);
}

HRESULT EncodeToMemory(IWICBitmapSource *source, REFGUID container, IStream **stream)
{
    HRESULT hr = CreateStreamOnHGlobal(NULL, TRUE, stream);
    if (SUCCEEDED(hr))
        hr = EncodeFrames(&source, 1, container, *stream);
    LARGE_INTEGER zero = {};
    if (SUCCEEDED(hr))
        hr = (*stream)->Seek(zero, STREAM_SEEK_SET, NULL);
    return hr;
}

HRESULT DecodeFrameFromFile(const std::wstring &path, IWICBitmapFrameDecode **frame)
{
    Com<IWICBitmapDecoder> decoder;
    *frame = NULL;
    HRESULT hr = TestFactory()->CreateDecoderFromFilename(path.c_str(), NULL, GENERIC_READ,
                                                          WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr))
        hr = decoder->GetFrame(0, frame);
    return hr;
}

HRESULT DecodeFrameFromStream(IStream *stream, IWICBitmapFrameDecode **frame)
{
    Com<IWICBitmapDecoder> decoder;
    *frame = NULL;
    HRESULT hr = TestFactory()->CreateDecoderFromStream(stream, NULL, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr))
        hr = decoder->GetFrame(0, frame);
    return hr;
}

HRESULT ProbeImageFile(const std::wstring &path, GUID *container, UINT *width, UINT *height)
{
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    HRESULT hr = TestFactory()->CreateDecoderFromFilename(path.c_str(), NULL, GENERIC_READ,
                                                          WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(container);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr)) hr = frame->GetSize(width, height);
    return hr;
}

std::wstring MakeTempFolder(const wchar_t *tag)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter;
    for (;;)
    {
        wchar_t path[MAX_PATH];
        swprintf(path, MAX_PATH, L"%lsqm-%ls-%lu-%u", base, tag, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryW(path, NULL))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
}

void RemoveTree(const std::wstring &folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(folder.c_str());
}

COLORREF BitmapPixel(HBITMAP bitmap, int x, int y)
{
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, bitmap);
    COLORREF colour = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return colour;
}

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<BYTE> ReadFileBytes(const std::wstring &path)
{
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 30))
    {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, NULL))
            read = 0;
        bytes.resize(read);
    }
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring &path, const void *data, size_t size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, static_cast<DWORD>(size), &written, NULL);
    CloseHandle(file);
    return ok && written == size;
}

std::vector<std::wstring> ListFolderInListingOrder(const std::wstring &folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

std::vector<std::wstring> ListFolder(const std::wstring &folder)
{
    std::vector<std::wstring> names = ListFolderInListingOrder(folder);
    std::sort(names.begin(), names.end());
    return names;
}
