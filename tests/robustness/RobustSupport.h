// Helpers shared by the robustness tests: images encoded into byte arrays,
// fingerprints of folders, a folder walk bounded in time, and the checks
// that every output is whole and nothing half-written was left behind.
#pragma once

#include "TestImages.h"

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

// A colourful pattern, so that encoders produce real entropy-coded data.
UINT PatternPixel(UINT x, UINT y);

// A width x height image of PatternPixel encoded by the platform's encoder.
std::vector<BYTE> MakeImageBytes(UINT width, UINT height, REFGUID container);

// Deterministic pseudo-random numbers (xorshift32); never 0 as a state.
struct Random
{
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t Below(uint32_t limit) { return limit ? Next() % limit : 0; }
};

// Writes such an image to path; false if it could not be made or written.
bool WriteImage(const std::wstring &path, UINT width, UINT height, REFGUID container);

// One image per decoder (JPEG, PNG, GIF, BMP, TIFF) in a fresh folder with
// an empty "Resized", and the output path the batch would use for each.
struct ImageSet
{
    std::wstring folder;
    std::vector<std::wstring> inputs, outputs;
};
ImageSet MakeImageSet(const wchar_t *tag, UINT width, UINT height);

uint64_t HashBytes(const std::vector<BYTE> &bytes);
// Fingerprint of every file directly inside folder, by name.
std::map<std::wstring, uint64_t> HashFiles(const std::wstring &folder);

// The product's size rule for one side, computed independently: W x s with
// halves going up.
UINT ExpectedSide(UINT side, float scale);

// Sets the batch's scale factor for one test and puts the old one back.
class ScaleGuard
{
public:
    explicit ScaleGuard(float scale);
    ~ScaleGuard();

private:
    float saved;
};

// Decodes frame 0 of path and copies every pixel, so that a cut-off file
// fails here even if its header is intact.
struct DecodedImage
{
    HRESULT hr;
    UINT width, height;
};
DecodedImage DecodeCompletely(const std::wstring &path);

// Every "*.tmp" file under folder, recursively: what a writer that died or
// failed halfway would leave behind.
std::vector<std::wstring> FindLeftovers(const std::wstring &folder);

// WalkImageFolder(NULL, folder, workers) on a thread of its own, as the
// batch's coordinator runs it (workers 0: one per processor). Puts the
// current directory back afterwards, should the walk ever change it.
struct WalkRun
{
    HANDLE thread;
    DWORD started;
    std::wstring savedDirectory;
};
WalkRun StartWalk(const std::wstring &folder, UINT workers = 0);
// Waits up to limitMs. On a timeout, raises the quit flag and waits again;
// a walk that still does not end is a hang that cannot be recovered from in
// this process, so the program exits with code 3 after saying so. Returns
// whether the walk ended within the limit and its running time.
bool FinishWalk(WalkRun &run, DWORD limitMs, DWORD *elapsedMs);
bool RunWalk(const std::wstring &folder, DWORD limitMs, DWORD *elapsedMs);

// Removes a test's folder. After a pipeline run outside a walk the imaging
// context still holds the last decoded input open, so its frame is let go
// first, as the next image would.
void ReleaseLastFrame();
void RemoveTestFolder(const std::wstring &folder);

// Crc32, the CRC of PNG chunks, for damaging PNGs past their checksums.
#include "photo/PngChunks.h"

// "Resized" inside folder.
std::wstring OutputFolderOf(const std::wstring &folder);
