// The one user choice a batch applies: which size change is selected and
// its scale factor, 25 % at every start.
#pragma once

#include <atomic>

struct SizeChoice
{
    int id;               // radio button id, ID_SIZE_10 .. ID_SIZE_150
    const wchar_t *label; // text of the radio button
    float factor;         // applied to width and height alike
};

// The six choices, in the order the Image size dialog looks for the checked one.
const int SIZE_CHOICE_COUNT = 6;
extern const SizeChoice g_sizeChoices[SIZE_CHOICE_COUNT];

// Selected choice; written and read on the UI thread only.
extern int g_sizeChoiceId;
// Its factor; written on the UI thread, read by the worker once per image.
// Atomic so that the worker never sees a torn value.
extern std::atomic<float> g_scaleFactor;

// Makes the row with this id the setting (id first, then factor). Returns
// false, changing nothing, when no row has this id.
bool ApplySizeChoice(int id);
