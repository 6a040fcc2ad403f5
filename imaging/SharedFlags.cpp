#include "SharedFlags.h"

std::atomic<bool> g_quitRequested(false);
std::atomic<bool> g_busy(false);
std::atomic<bool> g_stopRequested(false);
