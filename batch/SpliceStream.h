// The stream an encoder writes a copy into: straight into the copy's
// temporary file, with what the photo carries put in on the way.
//
// Promises: the file ends up byte for byte as encoding the whole copy into
// memory and splicing its blocks in (MetadataSplice.h) would make it. The
// encoder sees only its own bytes: positions, sizes and reads leave the
// blocks out. Until the blocks' place is known (a JPEG: the marker after
// the encoder's APP0; a PNG: at the latest the first IDAT), the stream
// holds the copy's first bytes in memory, at most SPLICE_HOLD_BYTES; a
// copy whose place is still unknown by then is written as the encoder made
// it, without the blocks. A copy that carries nothing goes straight to the
// file. Whatever the copy's size, the stream holds no more than that.
// Seek, Read, Stat and SetSize answer as a file's stream does (an encoder
// may seek back to patch what it wrote), so the file must be open for
// reading and writing. One encoder on one thread uses it.
#pragma once

#include "PhotoMetadata.h"

#include <windows.h>

#include <stddef.h>

const size_t SPLICE_HOLD_BYTES = 1024 * 1024;

// A stream at the start of file, an empty file open for reading and
// writing that the stream neither owns nor closes. The copy is a
// width x height image in container; metadata (NULL: none) stays the
// caller's and must outlive the stream.
HRESULT CreateSpliceStream(HANDLE file, REFGUID container, const PhotoMetadata *metadata, UINT width, UINT height,
                           IStream **stream);

// Once the encoder has committed: what is still held goes into the file,
// its blocks' place found in the whole copy.
HRESULT FinishSpliceStream(IStream *stream);

// The most copy bytes any splice stream of this process has held in
// memory at once (its held start and the blocks), for the benchmark and
// the tests.
size_t GetSpliceStreamPeakBytes();
