// Why a file of a batch was not resized, in plain words, and the one
// message that names the images that failed.
//
// Promises: every outcome that failed gets exactly one reason, from the
// step that failed (reading the file, resizing it, writing its copy), the
// HRESULT that step answered and, where memory ran out, the frame's size:
// a frame too large for the program is told apart from memory that simply
// ran out. The message's first line reads "<n> of <m> images could not be
// resized:", then one line "name: reason" per image, at most
// REPORT_MOST_LINES of them, then "and N more." for the rest. A name shows
// as it is, with control characters and direction marks taken out and a
// long name shortened with an ellipsis, so that no name can start a line of
// its own or turn the line around. Nothing here touches a file.
#pragma once

#include <windows.h>

#include <string>

// The step at which a file stopped.
enum OutcomeStep
{
    OUTCOME_WRITTEN,     // its copy was written
    OUTCOME_NOT_READ,    // opening, reading or decoding the file failed
    OUTCOME_NOT_RESIZED, // decoded, but the scaled picture could not be made
    OUTCOME_NOT_WRITTEN, // the copy could not be encoded or written
    OUTCOME_STOPPED,     // the batch was stopped before the file was done; not a failure
};

// What became of one file.
struct FileOutcome
{
    OutcomeStep step;
    HRESULT hr;               // what the failed step answered
    UINT frameWidth;          // frame 0's size, 0 x 0 when not known
    UINT frameHeight;
    bool decoded;             // a decoder read the file: it is an image whatever its name
    bool targetReadOnly;      // the copy's name is taken by a read-only file
};

enum FailureReason
{
    FAILURE_DAMAGED,           // damaged, or not an image that can be read
    FAILURE_VANISHED_OR_LOCKED,
    FAILURE_NO_ENCODER,        // no encoder for the copy's kind of file on this computer
    FAILURE_TOO_LARGE_HERE,    // too large for this 32-bit program; the 64-bit one resizes it
    FAILURE_TOO_LARGE,         // too large for either program
    FAILURE_OUT_OF_MEMORY,     // memory ran out for a picture that fits
    FAILURE_COPY_READ_ONLY,
    FAILURE_COPY_ACCESS_DENIED,
    FAILURE_COPY_HELD,
    FAILURE_DISK_FULL,
    FAILURE_PATH_TOO_LONG,
    FAILURE_OTHER,             // none of the above; the error code is shown
};

// A decoded frame of more bytes than this (at 4 bytes a pixel) does not
// fit beside the program in a 32-bit process; beyond the second limit no
// build resizes it (one CopyPixels takes at most 4 GiB).
const UINT64 LARGEST_FRAME_BYTES_32_BIT = 1ull << 30;
const UINT64 LARGEST_FRAME_BYTES_ANY = 0xFFFFFFFFull;

// The reason for a failed outcome; is32BitProgram says which build asks.
FailureReason ClassifyFailure(const FileOutcome &outcome, bool is32BitProgram);

// True for outcomes that count as a failed image.
bool OutcomeFailed(const FileOutcome &outcome);

// The longest name shown, in UTF-16 code units, ellipsis included.
const size_t SHOWN_NAME_MOST_CHARS = 60;
// File lines in the message before "and N more.".
const size_t REPORT_MOST_LINES = 10;

// name as the message shows it (see above).
std::wstring MakeShownName(const wchar_t *name);

// The reason in words; copyName is the copy's file name in "Resized"
// (already shown-safe), hr the step's answer for FAILURE_OTHER.
std::wstring DescribeFailure(FailureReason reason, const std::wstring &copyName, HRESULT hr);

// One failed image as the message lists it.
struct FailedImage
{
    std::wstring shownName;   // MakeShownName of the input's name
    std::wstring description; // DescribeFailure
};

// The whole message: failedCount of imageCount, then the listed ones
// (at most REPORT_MOST_LINES are used), then how many more failed.
std::wstring ComposeFailureReport(UINT64 failedCount, UINT64 imageCount, const FailedImage *listed, size_t listedCount);
