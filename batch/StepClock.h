// Where one file's time goes. The pipeline marks the end of each of its
// steps; when a record is installed, each mark adds the time since the
// previous mark to its step. Only the benchmark installs one: without it a
// mark is one pointer test, and nothing is timed.
#pragma once

#include <windows.h>

enum PipelineStep
{
    STEP_HEADER,   // the program's own reads of the file's header bytes
    STEP_DECODE,   // decoder, frame, and whatever it takes to reach the pixels
    STEP_PREVIEW,  // preview source, preview bitmap, repaint
    STEP_ENCODE,   // scaled source, turn, encoder, the written bands, commits
    STEP_METADATA, // carrying the photo's own blocks into the copy
    STEP_MOVE,     // moving the finished copy onto its name
    STEP_COUNT
};

struct StepTimes
{
    LONGLONG ticks[STEP_COUNT]; // QueryPerformanceCounter ticks spent in each step
    LARGE_INTEGER last;         // the previous mark
};

inline thread_local StepTimes *g_stepTimes = NULL; // installed by the benchmark only, on the thread that runs the pipeline; each thread has its own

// Starts timing one file: the next mark counts from here.
inline void StartStepClock()
{
    if (g_stepTimes)
        QueryPerformanceCounter(&g_stepTimes->last);
}

// Ends a stretch of work that belongs to step.
inline void MarkStep(PipelineStep step)
{
    if (!g_stepTimes)
        return;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    g_stepTimes->ticks[step] += now.QuadPart - g_stepTimes->last.QuadPart;
    g_stepTimes->last = now;
}
