#include "MetadataSplice.h"

#include "imaging/ImagingContext.h"

bool PlanMetadataSplice(const uint8_t *encoded, size_t size, REFGUID container, const PhotoMetadata *metadata,
                        UINT width, UINT height, SplicePlan *plan)
{
    if (!metadata || !IsEqualGUID(container, metadata->container))
        return false;
    if (IsEqualGUID(container, GUID_ContainerFormatJpeg))
        return PlanJpegSplice(encoded, size, metadata->jpeg, width, height, plan);
    if (IsEqualGUID(container, GUID_ContainerFormatPng))
        return PlanPngSplice(encoded, size, metadata->profile.data(), metadata->profile.size(), plan);
    return false;
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
