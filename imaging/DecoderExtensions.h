// Which file names the installed decoders claim.
//
// Promises: the list holds every extension that some decoder installed on
// this computer names for its files (IWICBitmapCodecInfo::GetFileExtensions
// over the component enumerator's decoders), each lower-case with its dot,
// separated by commas, with a comma at both ends, so that looking a name up
// is one search. A name is claimed when its extension (after the last dot,
// compared without case) is on the list. A file whose name no decoder
// claims may still decode; the batch counts such a file as an image too.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <string>

// Fills *extensions (",.jpg,.jpeg,...,"); on failure it holds what was
// gathered before it (at least ",").
HRESULT ListDecoderExtensions(IWICImagingFactory *factory, std::wstring *extensions);

// True when the extension of fileName (a name or a path) is on the list.
bool IsClaimedByDecoder(const std::wstring &extensions, const wchar_t *fileName);
