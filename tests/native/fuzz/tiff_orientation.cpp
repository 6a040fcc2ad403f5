// Fuzz target: the TIFF orientation reader, over memory and over a file.
// Promises: 1 to 8 always; the file reader, which reads only the first
// IFD, agrees with the memory reader or says 1 (a value stored outside
// the IFD); the one reading of a TIFF file gives the file reader's answer.
#include "FuzzCheck.h"

#include "photo/PhotoHeader.h"
#include "photo/Tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint32_t inMemory = ParseTiffOrientation(data, size);
    MemoryPhotoFile file(data, size);
    const uint32_t fromFile = ReadTiffFileOrientation(&file);
    FUZZ_CHECK(inMemory >= 1 && inMemory <= 8);
    FUZZ_CHECK(fromFile == inMemory || fromFile == 1);
    static PhotoHeader header;
    ReadPhotoHeader(&file, &header);
    FUZZ_CHECK(header.kind != PHOTO_TIFF || header.orientation == fromFile);
    return 0;
}
