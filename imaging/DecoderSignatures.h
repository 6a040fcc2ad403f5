// Whether some installed decoder would take a file, judged the way the
// factory picks a decoder for it: by the signatures the decoders registered
// (IWICBitmapDecoderInfo::MatchesPattern), without decoding anything.
//
// Promises: false only when every installed decoder was asked and each
// answered that the file's first bytes are not its signature. Whatever
// cannot be asked (no enumerator, a decoder that registered no signature or
// whose answer failed, a file that cannot be opened as a stream) answers
// true, so that such a file is treated as an image of unknown size.
#pragma once

#include <windows.h>
#include <wincodec.h>

bool MayAnyDecoderTake(IWICImagingFactory *factory, const wchar_t *path);
