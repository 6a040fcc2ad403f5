#include "DecoderSignatures.h"

#include "ImagingContext.h"

namespace
{
// One decoder's answer for the stream, from its first byte. A decoder that
// registered no signature cannot be ruled out.
HRESULT AskDecoder(IUnknown *component, IStream *stream, BOOL *matches)
{
    IWICBitmapDecoderInfo *info = NULL;
    UINT patterns = 0, patternBytes = 0;
    LARGE_INTEGER start;
    start.QuadPart = 0;

    HRESULT hr = component->QueryInterface(IID_PPV_ARGS(&info));
    if (FAILED(hr))
        goto Cleanup;
    hr = info->GetPatterns(0, NULL, &patterns, &patternBytes);
    if (FAILED(hr))
        goto Cleanup;
    if (patterns == 0)
    {
        *matches = TRUE;
        goto Cleanup;
    }
    hr = stream->Seek(start, STREAM_SEEK_SET, NULL);
    if (FAILED(hr))
        goto Cleanup;
    hr = info->MatchesPattern(stream, matches);

Cleanup:
    SafeRelease(&info);
    return hr;
}
} // namespace

bool MayAnyDecoderTake(IWICImagingFactory *factory, const wchar_t *path)
{
    IWICStream *stream = NULL;
    IEnumUnknown *decoders = NULL;
    IUnknown *component = NULL;
    ULONG fetched = 0;
    BOOL matches = FALSE;

    HRESULT hr = factory->CreateStream(&stream);
    if (FAILED(hr))
        goto Cleanup;
    hr = stream->InitializeFromFilename(path, GENERIC_READ);
    if (FAILED(hr))
        goto Cleanup;
    hr = factory->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, &decoders);
    if (FAILED(hr))
        goto Cleanup;
    while (!matches && (hr = decoders->Next(1, &component, &fetched)) == S_OK && fetched == 1)
    {
        hr = AskDecoder(component, stream, &matches);
        SafeRelease(&component);
        if (FAILED(hr))
            goto Cleanup;
    }

Cleanup:
    SafeRelease(&component);
    SafeRelease(&decoders);
    SafeRelease(&stream);
    return FAILED(hr) || matches;
}
