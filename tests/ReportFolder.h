// The folder the report's tests resize: two good images, two damaged
// ones, one whose copy is already in "Resized" and read-only, three files
// that are not images and a subfolder. Shared by the walk's test and the
// one through the real window.
#pragma once

#include <string>
#include <vector>

// Fills folder (which exists and is empty); false when a file could not
// be made.
bool MakeReportFolder(const std::wstring &folder);

const unsigned REPORT_FOLDER_FILES = 8;  // what the title counts
const unsigned REPORT_FOLDER_IMAGES = 5; // what the message counts

// The message's lines for that folder: the first, then the failed images'
// in name order (the workers finish them in any order).
std::vector<std::wstring> ExpectedReportLines();

// text split at its line ends, the file lines put in name order.
std::vector<std::wstring> ReportLinesInNameOrder(const std::wstring &text);
