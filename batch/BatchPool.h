// The workers of one batch: as many threads as the count asks, each taking
// the listing's next entry and resizing it through the pipeline until the
// listing ends or quit is requested.
//
// Promises: each worker runs below normal priority, enters the
// multithreaded apartment, makes its own imaging context (its own factory;
// no WIC object passes between threads), releases it and leaves the
// apartment before it ends; it shows no message box and never waits for
// the window. RunBatchWorkers returns only after every worker it started
// has ended, serving the calling thread's messages while it waits, as a
// single-threaded apartment must.
#pragma once

#include "BatchListing.h"
#include "MemoryBudget.h"

#include <windows.h>

// As many as the processors the process may run on (its affinity mask), at
// least one and at most MAX_BATCH_WORKERS.
UINT CountBatchWorkers();

// Runs workerCount workers (0: CountBatchWorkers()) over listing, handing
// previews to window (NULL: none are made), each file admitted by budget.
void RunBatchWorkers(HWND window, BatchListing *listing, MemoryBudget *budget, UINT workerCount);
