// A stream on memory of the program's own, for an encoder to write a copy
// into before the copy is written to its file once.
//
// Promises: the stream grows as it is written and every byte it holds that
// was never written reads as zero (an encoder that seeks past the end to
// align a structure leaves zeros there, as a file would, never what the
// memory held before). It never holds more than MAX_MEMORY_STREAM_BYTES;
// a write past that fails with STG_E_MEDIUMFULL. The encoder calls it from
// its own frames, so nothing thrown beneath a method passes back into them
// (ExceptionBoundary.h).
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

const uint64_t MAX_MEMORY_STREAM_BYTES = (sizeof(size_t) > 4 ? 0x400000000ull : 0x7FFFFFFEull);

// A new, empty stream (one reference, the caller's).
HRESULT CreateMemoryStream(IStream **stream);

// The bytes a stream made by CreateMemoryStream holds, valid until it is
// written to again or released.
void GetMemoryStreamBytes(IStream *stream, const uint8_t **bytes, size_t *size);
