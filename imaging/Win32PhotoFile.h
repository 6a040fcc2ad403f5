// A photo file opened for the portable readers (photo/PhotoFile.h): the
// one place where they meet the file system.
//
// Promises: reads are positioned (no shared file pointer) and either fill
// what was asked or fail; the size is the one the file had when opened.
// The file is opened for reading only and shared with every other reader
// and writer, so a batch never keeps anyone from a photo.
#pragma once

#include "photo/PhotoFile.h"
#include "photo/PhotoHeader.h"

#include <windows.h>

struct Win32PhotoFile : PhotoFile
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    uint64_t size = 0;

    ~Win32PhotoFile() override;
    bool Read(uint64_t offset, void *buffer, size_t bytes) override;
    uint64_t Size() const override { return size; }
};

HRESULT OpenWin32PhotoFile(const wchar_t *path, Win32PhotoFile *file);

// The one reading of the header of the file at path (photo/PhotoHeader.h);
// a file that cannot be opened gives the empty record and its error.
HRESULT ReadPhotoFileHeader(const wchar_t *path, PhotoHeader *header);
