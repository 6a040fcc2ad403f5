// The memory that the batch's workers may hold at once for their files.
//
// Promises: files are admitted in listing order only, each after every
// earlier one. A file is admitted when what it reserves fits beside what
// the admitted files hold, or when no other file is admitted (so one
// larger than the whole budget runs alone, and a file whose size is not
// known, which reserves the whole budget, too). While a file waits, no
// later one is admitted, so none can starve. A reservation is released
// when its file is done. No admission waits on past a stop
// (BatchStopRequested).
#pragma once

#include "photo/PhotoHeader.h"

#include <windows.h>

#include <stdint.h>

struct MemoryBudget
{
    SRWLOCK lock;               // guards everything below; taken by the workers
    CONDITION_VARIABLE changed; // woken when a file is admitted or lets go of its reservation
    UINT64 total;               // bytes the admitted files may reserve together
    UINT64 reserved;            // what the admitted files hold
    UINT admitted;              // files admitted and not yet done
    ULONGLONG nextOrder;        // listing order of the next file to admit
};

// About 1 GiB in a 32-bit process (its address space is the limit); half
// the physical memory in a 64-bit one.
UINT64 DefaultMemoryBudget();

// total 0: DefaultMemoryBudget().
void StartMemoryBudget(MemoryBudget *budget, UINT64 total);

// A file whose size is not known reserves the whole budget, as one larger
// than it does.
const UINT64 FILE_BYTES_UNKNOWN = UINT64_MAX;

// What the pipeline will hold for a file with this header at scale: the
// decoded frame at 4 bytes a pixel, the copy of a frame too large to read
// in place, and the scaled copy the encoder is given. FILE_BYTES_UNKNOWN
// when the header gave no size.
UINT64 EstimateFileBytes(const PhotoHeader &header, float scale);

// Waits until the file of that listing order is admitted with bytes, and
// answers what it holds in *reserved; false, reserving nothing, when quit
// was requested first. A file that will not be decoded at all (one that
// cannot even be opened, a folder) asks for 0 and passes in its turn
// beside anything, so that it never waits for the files before it to end.
bool AdmitFile(MemoryBudget *budget, ULONGLONG order, UINT64 bytes, UINT64 *reserved);

void ReleaseFile(MemoryBudget *budget, UINT64 reserved);

// Where a file stands with the budget, carried through the pipeline.
struct FileAdmission
{
    MemoryBudget *budget; // NULL: no budget
    ULONGLONG order;      // the file's place in the listing
    bool admitted;        // AdmitFile answered true
    UINT64 reserved;      // what it holds
};
