// COM references: every object that the pipeline obtains from the imaging
// factory is released again, and no file stays open behind a forgotten
// reference.
#include "RobustSupport.h"

#include "batch/FolderBatch.h"
#include "batch/ResizePipeline.h"
#include "imaging/ImagingContext.h"

#include <gtest/gtest.h>

#include <process.h>
#include <stdio.h>

namespace
{
// Stands in for the imaging factory: forwards every call and keeps one
// extra reference on everything it hands out, so that afterwards each
// object's last Release tells whether anybody else still holds it.
class CountingFactory : public IWICImagingFactory
{
public:
    explicit CountingFactory(IWICImagingFactory *real) : real(real) {}

    // Releases the extra references, newest first (later objects hold
    // earlier ones: a converter its scaler, an encoder its stream), and
    // returns what is still held by others.
    std::vector<std::string> ReleaseAll()
    {
        std::vector<std::string> held;
        for (size_t i = objects.size(); i-- > 0;)
        {
            const ULONG left = objects[i].object->Release();
            if (left != 0)
                held.push_back(objects[i].kind + " #" + std::to_string(i) + " still has " + std::to_string(left));
        }
        objects.clear();
        return held;
    }
    size_t Count() const { return objects.size(); }

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWICImagingFactory))
        {
            *object = this;
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateDecoderFromFilename(LPCWSTR name, const GUID *vendor, DWORD access, WICDecodeOptions options,
                                           IWICBitmapDecoder **decoder) override
    {
        return Track("decoder", real->CreateDecoderFromFilename(name, vendor, access, options, decoder), decoder);
    }
    STDMETHODIMP CreateDecoderFromStream(IStream *stream, const GUID *vendor, WICDecodeOptions options,
                                         IWICBitmapDecoder **decoder) override
    {
        return Track("decoder", real->CreateDecoderFromStream(stream, vendor, options, decoder), decoder);
    }
    STDMETHODIMP CreateDecoderFromFileHandle(ULONG_PTR file, const GUID *vendor, WICDecodeOptions options,
                                             IWICBitmapDecoder **decoder) override
    {
        return Track("decoder", real->CreateDecoderFromFileHandle(file, vendor, options, decoder), decoder);
    }
    STDMETHODIMP CreateComponentInfo(REFCLSID id, IWICComponentInfo **info) override
    {
        return Track("component info", real->CreateComponentInfo(id, info), info);
    }
    STDMETHODIMP CreateDecoder(REFGUID container, const GUID *vendor, IWICBitmapDecoder **decoder) override
    {
        return Track("decoder", real->CreateDecoder(container, vendor, decoder), decoder);
    }
    STDMETHODIMP CreateEncoder(REFGUID container, const GUID *vendor, IWICBitmapEncoder **encoder) override
    {
        return Track("encoder", real->CreateEncoder(container, vendor, encoder), encoder);
    }
    STDMETHODIMP CreatePalette(IWICPalette **palette) override { return Track("palette", real->CreatePalette(palette), palette); }
    STDMETHODIMP CreateFormatConverter(IWICFormatConverter **converter) override
    {
        return Track("converter", real->CreateFormatConverter(converter), converter);
    }
    STDMETHODIMP CreateBitmapScaler(IWICBitmapScaler **scaler) override
    {
        return Track("scaler", real->CreateBitmapScaler(scaler), scaler);
    }
    STDMETHODIMP CreateBitmapClipper(IWICBitmapClipper **clipper) override
    {
        return Track("clipper", real->CreateBitmapClipper(clipper), clipper);
    }
    STDMETHODIMP CreateBitmapFlipRotator(IWICBitmapFlipRotator **rotator) override
    {
        return Track("flip-rotator", real->CreateBitmapFlipRotator(rotator), rotator);
    }
    STDMETHODIMP CreateStream(IWICStream **stream) override { return Track("stream", real->CreateStream(stream), stream); }
    STDMETHODIMP CreateColorContext(IWICColorContext **context) override
    {
        return Track("colour context", real->CreateColorContext(context), context);
    }
    STDMETHODIMP CreateColorTransformer(IWICColorTransform **transform) override
    {
        return Track("colour transform", real->CreateColorTransformer(transform), transform);
    }
    STDMETHODIMP CreateBitmap(UINT width, UINT height, REFWICPixelFormatGUID format, WICBitmapCreateCacheOption option,
                              IWICBitmap **bitmap) override
    {
        return Track("bitmap", real->CreateBitmap(width, height, format, option, bitmap), bitmap);
    }
    STDMETHODIMP CreateBitmapFromSource(IWICBitmapSource *source, WICBitmapCreateCacheOption option, IWICBitmap **bitmap) override
    {
        return Track("bitmap", real->CreateBitmapFromSource(source, option, bitmap), bitmap);
    }
    STDMETHODIMP CreateBitmapFromSourceRect(IWICBitmapSource *source, UINT x, UINT y, UINT width, UINT height,
                                            IWICBitmap **bitmap) override
    {
        return Track("bitmap", real->CreateBitmapFromSourceRect(source, x, y, width, height, bitmap), bitmap);
    }
    STDMETHODIMP CreateBitmapFromMemory(UINT width, UINT height, REFWICPixelFormatGUID format, UINT stride, UINT size,
                                        BYTE *buffer, IWICBitmap **bitmap) override
    {
        return Track("bitmap", real->CreateBitmapFromMemory(width, height, format, stride, size, buffer, bitmap), bitmap);
    }
    STDMETHODIMP CreateBitmapFromHBITMAP(HBITMAP handle, HPALETTE palette, WICBitmapAlphaChannelOption options,
                                         IWICBitmap **bitmap) override
    {
        return Track("bitmap", real->CreateBitmapFromHBITMAP(handle, palette, options, bitmap), bitmap);
    }
    STDMETHODIMP CreateBitmapFromHICON(HICON icon, IWICBitmap **bitmap) override
    {
        return Track("bitmap", real->CreateBitmapFromHICON(icon, bitmap), bitmap);
    }
    STDMETHODIMP CreateComponentEnumerator(DWORD types, DWORD options, IEnumUnknown **enumerator) override
    {
        return Track("enumerator", real->CreateComponentEnumerator(types, options, enumerator), enumerator);
    }
    STDMETHODIMP CreateFastMetadataEncoderFromDecoder(IWICBitmapDecoder *decoder, IWICFastMetadataEncoder **encoder) override
    {
        return Track("metadata encoder", real->CreateFastMetadataEncoderFromDecoder(decoder, encoder), encoder);
    }
    STDMETHODIMP CreateFastMetadataEncoderFromFrameDecode(IWICBitmapFrameDecode *frame, IWICFastMetadataEncoder **encoder) override
    {
        return Track("metadata encoder", real->CreateFastMetadataEncoderFromFrameDecode(frame, encoder), encoder);
    }
    STDMETHODIMP CreateQueryWriter(REFGUID format, const GUID *vendor, IWICMetadataQueryWriter **writer) override
    {
        return Track("query writer", real->CreateQueryWriter(format, vendor, writer), writer);
    }
    STDMETHODIMP CreateQueryWriterFromReader(IWICMetadataQueryReader *reader, const GUID *vendor,
                                             IWICMetadataQueryWriter **writer) override
    {
        return Track("query writer", real->CreateQueryWriterFromReader(reader, vendor, writer), writer);
    }

private:
    struct Tracked
    {
        IUnknown *object;
        std::string kind;
    };
    template <class T> HRESULT Track(const char *kind, HRESULT hr, T **object)
    {
        if (SUCCEEDED(hr) && object && *object)
        {
            (*object)->AddRef();
            objects.push_back(Tracked{*object, kind});
        }
        return hr;
    }

    IWICImagingFactory *real;
    std::vector<Tracked> objects;
};
// What the worker's batch saw of its thread's apartment, and the folder
// it walks.
APTTYPE g_batchApartment = APTTYPE_CURRENT; // written by the batch thread
HRESULT g_batchApartmentAnswer = E_FAIL;    // written by the batch thread
std::wstring g_batchFolder;                 // written by the test before the thread starts

void WalkAndLookAround(HWND window)
{
    APTTYPEQUALIFIER qualifier;
    g_batchApartmentAnswer = CoGetApartmentType(&g_batchApartment, &qualifier);
    WalkImageFolder(window, g_batchFolder.c_str());
}

unsigned __stdcall BatchThread(void *)
{
    RunInWorkerApartment(NULL, WalkAndLookAround);
    return 0;
}
} // namespace

// The batch's coordinator runs in a single-threaded apartment of its own
// (the folder browser's); its workers make their own factories, so nothing
// is made with the UI thread's, and every file is let go of by the time
// the walk returns.
TEST(ComRelease, TheBatchRunsInAnApartmentAndLeavesNothingBehindIt)
{
    ImageSet inputs = MakeImageSet(L"com", 64, 48);
    ImagingContext *context = g_imaging;
    ASSERT_TRUE(context != NULL);
    IWICImagingFactory *real = context->factory;
    CountingFactory counting(real);
    context->factory = &counting;
    g_batchFolder = inputs.folder;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, BatchThread, NULL, 0, NULL));
    ASSERT_TRUE(thread != NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    context->factory = real;

    EXPECT_EQ(S_OK, g_batchApartmentAnswer) << "CoGetApartmentType inside the batch: " << Hex(g_batchApartmentAnswer);
    EXPECT_EQ(APTTYPE_STA, g_batchApartment) << "the batch's apartment";
    EXPECT_TRUE(context->currentSource == NULL) << "the walk lets go of the last frame";
    EXPECT_EQ(0u, counting.Count()) << "the workers used the UI thread's factory";
    for (size_t k = 0; k < inputs.inputs.size(); ++k)
    {
        EXPECT_TRUE(FileExists(inputs.outputs[k])) << Narrow(inputs.outputs[k]) << " was not written";
        // Deleting needs every handle on the file gone: no frame, decoder or
        // stream of a worker still holds it.
        EXPECT_TRUE(DeleteFileW(inputs.inputs[k].c_str())) << Narrow(inputs.inputs[k]) << " is still held open";
        EXPECT_TRUE(DeleteFileW(inputs.outputs[k].c_str())) << Narrow(inputs.outputs[k]) << " is still held open";
    }
    RemoveTestFolder(inputs.folder);
}

TEST(ComRelease, EveryComObjectOfThePipelineIsReleased)
{
    ImageSet inputs = MakeImageSet(L"com", 64, 48);
    ASSERT_EQ(5u, inputs.inputs.size());
    ImagingContext *context = g_imaging;
    ASSERT_TRUE(context != NULL);
    IWICImagingFactory *real = context->factory;
    CountingFactory counting(real);
    context->factory = &counting;
    for (size_t k = 0; k < inputs.inputs.size(); ++k)
    {
        HRESULT hr = ResizeImageFile(NULL, inputs.inputs[k].c_str(), inputs.outputs[k].c_str());
        EXPECT_EQ(S_OK, hr) << Narrow(inputs.inputs[k]) << ": " << Hex(hr);
    }
    // Reading a missing file and writing to a container without encoder
    // take the failure paths.
    ResizeImageFile(NULL, (inputs.folder + L"\\missing.png").c_str(), inputs.outputs[0].c_str());
    ResizeImageFile(NULL, inputs.inputs[1].c_str(), (OutputFolderOf(inputs.folder) + L"\\x.ico").c_str());
    context->factory = real;

    // The context keeps the last frame on purpose. A frame holds its
    // decoder, so a frame that someone else still holds shows up below as
    // a decoder that is still held.
    ASSERT_TRUE(context->currentSource != NULL);
    context->currentSource->Release();
    context->currentSource = NULL;

    const size_t made = counting.Count();
    const std::vector<std::string> held = counting.ReleaseAll();
    printf("[leak] COM objects made by 7 pipeline runs: %u, still held afterwards: %u\n", static_cast<unsigned>(made),
           static_cast<unsigned>(held.size()));
    EXPECT_GE(made, 5u * 5u) << "every run makes at least a decoder, two scalers, two converters";
    for (const std::string &object : held)
        ADD_FAILURE() << object;
    RemoveTestFolder(inputs.folder);
}

TEST(ComRelease, FilesAreClosedOnceTheNextImageIsProcessed)
{
    ImageSet inputs = MakeImageSet(L"com", 64, 48);
    ASSERT_EQ(5u, inputs.inputs.size());
    ASSERT_EQ(S_OK, ResizeImageFile(NULL, inputs.inputs[0].c_str(), inputs.outputs[0].c_str()));
    ASSERT_EQ(S_OK, ResizeImageFile(NULL, inputs.inputs[1].c_str(), inputs.outputs[1].c_str()));

    // Renaming needs every handle gone (no one opens with delete sharing).
    for (const std::wstring &path : {inputs.inputs[0], inputs.outputs[0], inputs.outputs[1]})
    {
        EXPECT_TRUE(MoveFileW(path.c_str(), (path + L".moved").c_str()))
            << Narrow(path) << " is still open: error " << GetLastError();
    }
    RemoveTestFolder(inputs.folder);
}

// The frame of the last image keeps its decoder and thus its file open
// without delete sharing; were it kept after the batch, the last photo
// could not be renamed, deleted or replaced (under Wine: error 32, sharing
// violation) for as long as the program stays open.
TEST(ComRelease, LastInputOfABatchIsNotKeptOpen)
{
    ImageSet inputs = MakeImageSet(L"com", 64, 48);
    ASSERT_EQ(5u, inputs.inputs.size());
    DWORD elapsed = 0;
    ASSERT_TRUE(RunWalk(inputs.folder, 30000, &elapsed));
    ASSERT_TRUE(FileExists(inputs.outputs.back())) << "the last image must have been resized";
    for (const std::wstring &path : inputs.inputs)
    {
        EXPECT_TRUE(MoveFileW(path.c_str(), (path + L".moved").c_str()))
            << Narrow(path) << " is still open after the batch: error " << GetLastError();
    }
    RemoveTestFolder(inputs.folder);
}
