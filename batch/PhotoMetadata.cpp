#include "PhotoMetadata.h"

#include "imaging/ImagingContext.h"

#include <utility>

namespace
{
const size_t MAX_PROFILE_BYTES = 64 * 1024 * 1024;
const UINT MAX_COLOR_CONTEXTS = 8;

// The profile of one colour context, when it is an RGB profile of a
// plausible size; S_FALSE when it is not one to carry.
HRESULT ReadContextProfile(IWICColorContext *context, std::vector<uint8_t> *profile)
{
    WICColorContextType type = WICColorContextUninitialized;
    UINT length = 0, actual = 0;
    if (FAILED(context->GetType(&type)) || type != WICColorContextProfile ||
        FAILED(context->GetProfileBytes(0, NULL, &length)) || length < ICC_HEADER_BYTES || length > MAX_PROFILE_BYTES)
        return S_FALSE;
    std::vector<uint8_t> bytes(length);
    if (FAILED(context->GetProfileBytes(length, bytes.data(), &actual)) || actual != length ||
        !IsRgbProfileStart(bytes.data(), length))
        return S_FALSE;
    profile->swap(bytes);
    return S_OK;
}

HRESULT ReadFrameProfile(IWICImagingFactory *factory, IWICBitmapFrameDecode *frame, std::vector<uint8_t> *profile)
{
    IWICColorContext *contexts[MAX_COLOR_CONTEXTS] = {};
    UINT count = 0, returned = 0;

    HRESULT hr = frame->GetColorContexts(0, NULL, &count);
    if (FAILED(hr) || count == 0)
        goto Cleanup;
    count = count < MAX_COLOR_CONTEXTS ? count : MAX_COLOR_CONTEXTS;
    for (UINT i = 0; i < count; ++i)
    {
        hr = factory->CreateColorContext(&contexts[i]);
        if (FAILED(hr))
            goto Cleanup;
    }
    hr = frame->GetColorContexts(count, contexts, &returned);
    if (FAILED(hr))
        goto Cleanup;
    for (UINT i = 0; i < returned && i < count && profile->empty(); ++i)
        ReadContextProfile(contexts[i], profile);

Cleanup:
    for (UINT i = 0; i < MAX_COLOR_CONTEXTS; ++i)
        SafeRelease(&contexts[i]);
    return hr;
}
} // namespace

void InitPhotoMetadata(PhotoMetadata *metadata)
{
    metadata->container = GUID_NULL;
    StartCarriedBlocks(&metadata->jpeg);
    std::vector<uint8_t>().swap(metadata->profile);
}

bool HasPhotoMetadata(const PhotoMetadata *metadata)
{
    return metadata && (HasCarriedBlocks(metadata->jpeg) || !metadata->profile.empty());
}

HRESULT GatherPhotoMetadata(IWICImagingFactory *factory, REFGUID container, IWICBitmapFrameDecode *frame,
                            PhotoHeader *header, PhotoMetadata *metadata)
{
    InitPhotoMetadata(metadata);
    metadata->container = container;
    if (IsEqualGUID(container, GUID_ContainerFormatJpeg) && header->kind == PHOTO_JPEG)
    {
        metadata->jpeg = std::move(header->blocks);
        StartCarriedBlocks(&header->blocks);
        return S_OK;
    }
    if (IsEqualGUID(container, GUID_ContainerFormatPng) || IsEqualGUID(container, GUID_ContainerFormatTiff))
        return ReadFrameProfile(factory, frame, &metadata->profile);
    return S_OK;
}
