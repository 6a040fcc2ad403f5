// The reasons a file was not resized, the names shown for them, the
// message that lists them, and which names the installed decoders claim.
#include "ReportFolder.h"
#include "TestImages.h"

#include "batch/BatchProgress.h"
#include "batch/FailureReport.h"
#include "batch/FolderBatch.h"
#include "imaging/DecoderExtensions.h"

#include <gtest/gtest.h>

#include <wincodec.h>

namespace
{
const HRESULT NOT_FOUND = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT DENIED = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
const HRESULT SHARING = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
const HRESULT OVERFLOWED = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);

struct ClassifyCase
{
    const char *what;
    OutcomeStep step;
    HRESULT hr;
    UINT width, height;
    bool readOnly;
    bool is32Bit;
    FailureReason expected;
};

const ClassifyCase CLASSIFY_CASES[] = {
    {"no decoder knows the bytes", OUTCOME_NOT_READ, WINCODEC_ERR_COMPONENTNOTFOUND, 0, 0, false, false, FAILURE_DAMAGED},
    {"bad header", OUTCOME_NOT_READ, WINCODEC_ERR_BADHEADER, 0, 0, false, true, FAILURE_DAMAGED},
    {"decoder's own failure", OUTCOME_NOT_READ, E_FAIL, 640, 480, false, false, FAILURE_DAMAGED},
    {"gone before it was read", OUTCOME_NOT_READ, NOT_FOUND, 0, 0, false, false, FAILURE_VANISHED_OR_LOCKED},
    {"held by another program", OUTCOME_NOT_READ, SHARING, 0, 0, false, false, FAILURE_VANISHED_OR_LOCKED},
    {"749 MP in the 32-bit build", OUTCOME_NOT_READ, E_OUTOFMEMORY, 22500, 33300, false, true, FAILURE_TOO_LARGE_HERE},
    {"749 MP in the 64-bit build", OUTCOME_NOT_READ, E_OUTOFMEMORY, 22500, 33300, false, false, FAILURE_OUT_OF_MEMORY},
    {"a photo when memory ran out", OUTCOME_NOT_READ, E_OUTOFMEMORY, 4000, 3000, false, true, FAILURE_OUT_OF_MEMORY},
    {"749 MP, decoder's own error, 32-bit", OUTCOME_NOT_READ, E_FAIL, 22500, 33300, false, true, FAILURE_TOO_LARGE_HERE},
    {"749 MP, bad header, 64-bit", OUTCOME_NOT_READ, WINCODEC_ERR_BADHEADER, 22500, 33300, false, false, FAILURE_DAMAGED},
    {"past 4 GiB, 64-bit", OUTCOME_NOT_READ, OVERFLOWED, 70000, 70000, false, false, FAILURE_TOO_LARGE},
    {"past 4 GiB, 32-bit", OUTCOME_NOT_READ, E_OUTOFMEMORY, 70000, 70000, false, true, FAILURE_TOO_LARGE},
    {"overflow, size unknown", OUTCOME_NOT_READ, OVERFLOWED, 0, 0, false, false, FAILURE_TOO_LARGE},
    {"scaler out of memory", OUTCOME_NOT_RESIZED, E_OUTOFMEMORY, 800, 600, false, false, FAILURE_OUT_OF_MEMORY},
    {"damage found while scaling", OUTCOME_NOT_RESIZED, WINCODEC_ERR_BADIMAGE, 800, 600, false, false, FAILURE_DAMAGED},
    {"read-only copy", OUTCOME_NOT_WRITTEN, DENIED, 800, 600, true, false, FAILURE_COPY_READ_ONLY},
    {"copy access denied", OUTCOME_NOT_WRITTEN, DENIED, 800, 600, false, false, FAILURE_COPY_ACCESS_DENIED},
    {"copy held", OUTCOME_NOT_WRITTEN, SHARING, 800, 600, false, false, FAILURE_COPY_HELD},
    {"disk full", OUTCOME_NOT_WRITTEN, HRESULT_FROM_WIN32(ERROR_DISK_FULL), 8, 8, false, false, FAILURE_DISK_FULL},
    {"disk full on write", OUTCOME_NOT_WRITTEN, HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), 8, 8, false, false, FAILURE_DISK_FULL},
    {"path too long", OUTCOME_NOT_WRITTEN, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), 8, 8, false, false, FAILURE_PATH_TOO_LONG},
    {"no encoder (an icon)", OUTCOME_NOT_WRITTEN, WINCODEC_ERR_COMPONENTNOTFOUND, 32, 32, false, false, FAILURE_NO_ENCODER},
    {"damage found while encoding", OUTCOME_NOT_WRITTEN, WINCODEC_ERR_BADIMAGE, 8, 8, false, false, FAILURE_DAMAGED},
    {"copy too large to write", OUTCOME_NOT_WRITTEN, E_OUTOFMEMORY, 22500, 33300, false, true, FAILURE_TOO_LARGE_HERE},
    {"network gone", OUTCOME_NOT_WRITTEN, HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED), 8, 8, false, false, FAILURE_OTHER},
};
} // namespace

TEST(FailureReport, EachFailureGetsItsReason)
{
    for (const ClassifyCase &c : CLASSIFY_CASES)
    {
        const FileOutcome outcome = {c.step, c.hr, c.width, c.height, c.step != OUTCOME_NOT_READ, c.readOnly};
        EXPECT_TRUE(OutcomeFailed(outcome)) << c.what;
        EXPECT_EQ(c.expected, ClassifyFailure(outcome, c.is32Bit))
            << c.what << ": " << Hex(c.hr) << ", " << c.width << " x " << c.height;
    }
    const FileOutcome written = {OUTCOME_WRITTEN, S_OK, 8, 8, true, false};
    const FileOutcome stopped = {OUTCOME_STOPPED, E_ABORT, 8, 8, true, false};
    EXPECT_FALSE(OutcomeFailed(written));
    EXPECT_FALSE(OutcomeFailed(stopped)) << "a file given up at a stop is no failure";
}

TEST(FailureReport, ReasonsNameTheCopyInResized)
{
    EXPECT_EQ(L"the copy could not be written because Resized\\a.jpg is read-only",
              DescribeFailure(FAILURE_COPY_READ_ONLY, L"a.jpg", DENIED));
    EXPECT_EQ(L"the copy could not be written because access to Resized\\a.jpg is denied",
              DescribeFailure(FAILURE_COPY_ACCESS_DENIED, L"a.jpg", DENIED));
    EXPECT_EQ(L"the copy could not be written because Resized\\a.heic.jpg is held by another program",
              DescribeFailure(FAILURE_COPY_HELD, L"a.heic.jpg", SHARING));
    EXPECT_EQ(L"it could not be resized (error 0x80070040)",
              DescribeFailure(FAILURE_OTHER, L"a.jpg", HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED)));
}

TEST(FailureReport, ShownNamesCannotForgeALine)
{
    struct NameCase
    {
        const wchar_t *name, *shown;
    };
    const NameCase cases[] = {
        {L"plain.jpg", L"plain.jpg"},
        {L"two\nlines.jpg", L"twolines.jpg"},
        {L"cr\rtab\t.jpg", L"crtab.jpg"},
        {L"\u202Egpj.exe", L"gpj.exe"},
        {L"a\u200Fb\u200E\u061Cc\u2066d\u2069.png", L"abcd.png"},
        {L"line\u2028para\u2029.gif", L"linepara.gif"},
        {L"c1\u0085\u009B.bmp", L"c1.bmp"},
        {L"\u65E5\u672C\u8A9E \U0001F600.jpg", L"\u65E5\u672C\u8A9E \U0001F600.jpg"},
    };
    for (const NameCase &c : cases)
        EXPECT_EQ(std::wstring(c.shown), MakeShownName(c.name)) << Narrow(c.name);
}

TEST(FailureReport, LongNamesAreShortenedWithAnEllipsisWholeCharactersOnly)
{
    const std::wstring longName = std::wstring(100, L'x') + L"-the-end-of-it.jpeg";
    const std::wstring shown = MakeShownName(longName.c_str());
    EXPECT_EQ(SHOWN_NAME_MOST_CHARS, shown.size()) << Narrow(shown);
    EXPECT_NE(std::wstring::npos, shown.find(L'\u2026')) << Narrow(shown);
    EXPECT_EQ(L"xxx", shown.substr(0, 3)) << Narrow(shown);
    EXPECT_EQ(L"\u2026e-end-of-it.jpeg", shown.substr(shown.size() - 17)) << "the extension stays in view";

    // Emoji (two UTF-16 units each) all along: no cut may split one.
    std::wstring emoji;
    for (int i = 0; i < 50; ++i)
        emoji += L"\U0001F600";
    const std::wstring cut = MakeShownName((L"a" + emoji + L".png").c_str());
    EXPECT_LE(cut.size(), SHOWN_NAME_MOST_CHARS);
    for (size_t i = 0; i < cut.size(); ++i)
    {
        const bool high = cut[i] >= 0xD800 && cut[i] <= 0xDBFF, low = cut[i] >= 0xDC00 && cut[i] <= 0xDFFF;
        EXPECT_FALSE(high && (i + 1 == cut.size() || !(cut[i + 1] >= 0xDC00 && cut[i + 1] <= 0xDFFF)))
            << "lone high surrogate at " << i;
        EXPECT_FALSE(low && (i == 0 || !(cut[i - 1] >= 0xD800 && cut[i - 1] <= 0xDBFF))) << "lone low surrogate at " << i;
    }
}

TEST(FailureReport, MessageListsAtMostTenImagesThenHowManyMore)
{
    struct ReportCase
    {
        UINT64 failed, images;
        size_t listed;
        size_t lines;         // expected lines in the message
        const wchar_t *first; // its first line
        const wchar_t *last;  // its last line
    };
    const ReportCase cases[] = {
        {1, 1, 1, 2, L"1 of 1 images could not be resized:", L"f0.jpg: reason 0"},
        {3, 409, 3, 4, L"3 of 409 images could not be resized:", L"f2.jpg: reason 2"},
        {10, 10, 10, 11, L"10 of 10 images could not be resized:", L"f9.jpg: reason 9"},
        {11, 400, 10, 12, L"11 of 400 images could not be resized:", L"and 1 more."},
        {5000, 5000, 10, 12, L"5000 of 5000 images could not be resized:", L"and 4990 more."},
    };
    FailedImage images[REPORT_MOST_LINES];
    for (size_t i = 0; i < REPORT_MOST_LINES; ++i)
        images[i] = FailedImage{L"f" + std::to_wstring(i) + L".jpg", L"reason " + std::to_wstring(i)};
    for (const ReportCase &c : cases)
    {
        const std::wstring text = ComposeFailureReport(c.failed, c.images, images, c.listed);
        std::vector<std::wstring> lines;
        for (size_t start = 0;;)
        {
            const size_t end = text.find(L'\n', start);
            lines.push_back(text.substr(start, end == std::wstring::npos ? end : end - start));
            if (end == std::wstring::npos)
                break;
            start = end + 1;
        }
        ASSERT_EQ(c.lines, lines.size()) << Narrow(text);
        EXPECT_EQ(std::wstring(c.first), lines.front());
        EXPECT_EQ(std::wstring(c.last), lines.back());
    }
}

TEST(DecoderExtensions, TheInstalledDecodersClaimTheirNamesOnly)
{
    std::wstring claimed;
    ASSERT_EQ(S_OK, ListDecoderExtensions(TestFactory(), &claimed));
    const wchar_t *images[] = {L"a.jpg", L"B.JPEG", L"c.png", L"d.gif", L"e.bmp", L"f.tif", L"g.TIFF", L"h.ico",
                               L"C:\\some.folder\\i.Jpg"};
    for (const wchar_t *name : images)
        EXPECT_TRUE(IsClaimedByDecoder(claimed, name)) << Narrow(name) << " in " << Narrow(claimed);
    const wchar_t *others[] = {L"notes.txt", L"desktop.ini", L"Thumbs.db", L"no-extension", L"dot.", L"C:\\x.jpg\\plain",
                               L".jp", L"a.jpgx", L"a.pn"};
    for (const wchar_t *name : others)
        EXPECT_FALSE(IsClaimedByDecoder(claimed, name)) << Narrow(name) << " in " << Narrow(claimed);
}

// Through the real walk and its workers: folders, files that are not
// images and a folder named like one are counted or skipped in silence.
TEST(BatchReport, NamesEachFailedImageOnceWithItsReason)
{
    const std::wstring folder = MakeTempFolder(L"report");
    ASSERT_TRUE(MakeReportFolder(folder));
    ResetBatchProgress(); // as the window does before its folder browser shows
    WalkImageFolder(NULL, folder.c_str(), 2);

    const BatchProgressView view = ReadBatchProgress();
    EXPECT_EQ(REPORT_FOLDER_FILES, view.filesTotal) << "files counted before the first started";
    EXPECT_EQ(REPORT_FOLDER_FILES, view.filesDone) << "files finished, whatever became of them";
    EXPECT_EQ(3u, view.imagesFailed);
    const std::wstring report = TakeFailureReport();
    EXPECT_EQ(ExpectedReportLines(), ReportLinesInNameOrder(report)) << Narrow(report);
    EXPECT_TRUE(TakeFailureReport().empty()) << "the failures are reported once";
    EXPECT_TRUE(FileExists(folder + L"\\Resized\\good.png") && FileExists(folder + L"\\Resized\\good.jpg"));
    RemoveTree(folder);
}
