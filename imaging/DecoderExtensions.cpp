#include "DecoderExtensions.h"

#include "ImagingContext.h"

#include <wctype.h>
#include <wchar.h>

#include <vector>

namespace
{
// Adds one decoder's comma-separated list (".jpeg,.jpe,.jpg").
HRESULT AppendCodecExtensions(IUnknown *component, std::wstring *extensions)
{
    IWICBitmapCodecInfo *info = NULL;
    UINT length = 0;
    std::vector<wchar_t> text;

    HRESULT hr = component->QueryInterface(IID_PPV_ARGS(&info));
    if (FAILED(hr))
        goto Cleanup;
    hr = info->GetFileExtensions(0, NULL, &length);
    if (FAILED(hr) || length == 0)
        goto Cleanup;
    text.resize(static_cast<size_t>(length) + 1);
    hr = info->GetFileExtensions(length, text.data(), &length);
    if (FAILED(hr))
        goto Cleanup;
    text.back() = L'\0';
    // The documented separator is a comma; Wine's codecs use semicolons
    // too. Either becomes a comma here.
    for (const wchar_t *c = text.data(); *c; ++c)
        if (*c != L' ')
            extensions->push_back(*c == L';' ? L',' : static_cast<wchar_t>(towlower(*c)));
    extensions->push_back(L',');

Cleanup:
    SafeRelease(&info);
    return hr;
}
} // namespace

HRESULT ListDecoderExtensions(IWICImagingFactory *factory, std::wstring *extensions)
{
    IEnumUnknown *decoders = NULL;
    IUnknown *component = NULL;
    ULONG fetched = 0;

    extensions->assign(L",");
    HRESULT hr = factory->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, &decoders);
    if (FAILED(hr))
        goto Cleanup;
    while ((hr = decoders->Next(1, &component, &fetched)) == S_OK && fetched == 1)
    {
        // One decoder that cannot say its names costs only its names.
        AppendCodecExtensions(component, extensions);
        SafeRelease(&component);
    }
    if (SUCCEEDED(hr))
        hr = S_OK;

Cleanup:
    SafeRelease(&component);
    SafeRelease(&decoders);
    return hr;
}

bool IsClaimedByDecoder(const std::wstring &extensions, const wchar_t *fileName)
{
    const wchar_t *slash = wcsrchr(fileName, L'\\');
    const wchar_t *dot = wcsrchr(slash ? slash + 1 : fileName, L'.');
    if (!dot || !dot[1])
        return false;
    // Compared in place: callers look names up under a lock, where nothing
    // may be allocated.
    const size_t length = wcslen(dot);
    for (size_t at = extensions.find(L','); at != std::wstring::npos; at = extensions.find(L',', at + 1))
    {
        const size_t next = extensions.find(L',', at + 1);
        if (next != std::wstring::npos && next - at - 1 == length &&
            _wcsnicmp(extensions.c_str() + at + 1, dot, length) == 0)
            return true;
    }
    return false;
}
