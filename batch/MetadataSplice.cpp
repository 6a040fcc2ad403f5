#include "MetadataSplice.h"

#include "imaging/ImagingContext.h"

bool MayNeedMetadataSplice(REFGUID container, const PhotoMetadata *metadata)
{
    return metadata && IsEqualGUID(container, metadata->container) &&
           (IsEqualGUID(container, GUID_ContainerFormatJpeg) || IsEqualGUID(container, GUID_ContainerFormatPng));
}

SpliceAnswer PlanMetadataSplice(const uint8_t *encoded, size_t size, bool complete, REFGUID container,
                                const PhotoMetadata *metadata, UINT width, UINT height, SplicePlan *plan)
{
    plan->inserted.clear();
    if (!MayNeedMetadataSplice(container, metadata))
        return SPLICE_NOTHING;
    if (IsEqualGUID(container, GUID_ContainerFormatJpeg))
        return PlanJpegSplice(encoded, size, complete, metadata->jpeg, width, height, plan);
    return PlanPngSplice(encoded, size, complete, metadata->profile.data(), metadata->profile.size(), plan);
}

HRESULT SetEncoderColorProfile(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, REFGUID container,
                               const PhotoMetadata *metadata)
{
    IWICColorContext *context = NULL;
    if (!metadata || metadata->profile.empty() || !IsEqualGUID(container, metadata->container))
        return S_FALSE;
    if (metadata->profile.size() > 0xFFFFFFFFu)
        return E_INVALIDARG;
    HRESULT hr = factory->CreateColorContext(&context);
    if (FAILED(hr))
        goto Cleanup;
    hr = context->InitializeFromMemory(metadata->profile.data(), static_cast<UINT>(metadata->profile.size()));
    if (FAILED(hr))
        goto Cleanup;
    hr = frame->SetColorContexts(1, &context);

Cleanup:
    SafeRelease(&context);
    return hr;
}
