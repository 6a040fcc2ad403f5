// The image writer: encodes one bitmap source into one file, in the
// container that the output name's extension promises.
//
// An output is either complete or absent: the image is encoded straight
// into a temporary file beside the output, with what its photo carries
// (SpliceStream.h), and renamed onto the output name only after both
// commits succeeded (TempFile.h); on any failure whatever stood at the
// output name is left untouched. The writer holds a few MiB of a copy at
// most, whatever the copy's size (what the encoder itself keeps aside).
#pragma once

#include "TempFile.h"

#include "imaging/ImagingContext.h"

struct PhotoMetadata;

struct OutputFormat
{
    GUID container;    // WIC container format to encode
    bool jpegQuality;  // write "ImageQuality" 0.95 into the frame's options
    bool appendJpg;    // extension unknown or missing: the name gets ".jpg" so it says what it holds
};

// Chooses the container by the extension after the last dot of the file
// name, compared without regard to case. Unknown or missing extensions give
// JPEG with the encoder's defaults.
OutputFormat LookUpOutputFormat(const wchar_t *outputPath);

// The name the writer really writes: outputPath, with ".jpg" appended when
// the extension is unknown. Fails with ERROR_FILENAME_EXCED_RANGE when the
// result does not fit MAX_PATH.
HRESULT ComposeWrittenPath(const wchar_t *outputPath, wchar_t (&writtenPath)[MAX_PATH]);

// Writes image quality 0.95 (VT_R4) into a JPEG frame encoder's options.
HRESULT WriteJpegQualityOption(IPropertyBag2 *options);

// Asks a bitmap frame encoder to keep alpha (the version 5 header).
HRESULT WriteBitmapAlphaOption(IPropertyBag2 *options);

// Writes the options a frame is created with (options NULL: none asked
// for). An option the encoder does not know costs only what it asked for:
// a bitmap encoder that refuses the alpha header (Windows 7 without its
// platform update) answers *alphaTaken false, and the image goes onto
// white as for every encoder without alpha.
HRESULT WriteFrameOptions(const OutputFormat &format, IPropertyBag2 *options, bool *alphaTaken);

// Encodes source (whole image, its size, resolution and pixel format) into
// outputPath. A 32bpp PBGRA source keeps its alpha where the encoder takes
// 32bpp BGRA and is laid onto white where it does not. Only the context's
// factory is used; source is not released. The metadata of the photo the
// source came from (NULL: none) goes into the file where its container
// keeps it (MetadataSplice.h); what cannot be carried is left out, and the
// image is written all the same.
HRESULT WriteImageFile(ImagingContext *context, IWICBitmapSource *source, const wchar_t *outputPath,
                       PhotoMetadata *metadata = NULL);

// The encoding alone, into any stream: what WriteImageFile writes into its
// temporary file, before anything is spliced in. The profile is offered to
// an encoder that takes it.
HRESULT EncodeImage(ImagingContext *context, IWICBitmapSource *source, const OutputFormat &format,
                    const PhotoMetadata *metadata, IStream *stream);
