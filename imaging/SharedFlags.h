// Flags shared between the UI thread and the batch worker.
//
// Each is a lock-free atomic byte, so a store on one thread is seen by the
// next load on the other without any further synchronisation.
#pragma once

#include <atomic>

// Stop the running batch and start no new one. Written by the UI thread
// (window destruction, Exit, a failed imaging context); never cleared.
extern std::atomic<bool> g_quitRequested;

// A batch worker exists. Raised by the UI thread when Open starts a worker
// (and again by the worker itself), lowered by the worker as its last act,
// or by the UI thread if the worker could not be started.
extern std::atomic<bool> g_busy;

// Stop the running batch as closing would (start no new file, give up a
// picture too large to finish quickly) while the program stays open.
// Raised by the UI thread on Esc, lowered by it when it starts a batch.
extern std::atomic<bool> g_stopRequested;

// What the batch's stop points test: closing, or Esc.
inline bool BatchStopRequested()
{
    return g_quitRequested || g_stopRequested;
}
