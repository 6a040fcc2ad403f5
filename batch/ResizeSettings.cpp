#include "ResizeSettings.h"

#include "resource.h"

// 0.1f is the single-precision value nearest a tenth (0x3DCCCCCD); all size
// arithmetic starts from it.
const SizeChoice g_sizeChoices[SIZE_CHOICE_COUNT] = {
    {ID_SIZE_10, L"10%", 0.1f},   {ID_SIZE_25, L"25%", 0.25f},   {ID_SIZE_50, L"50%", 0.5f},
    {ID_SIZE_75, L"75%", 0.75f},  {ID_SIZE_125, L"125%", 1.25f}, {ID_SIZE_150, L"150%", 1.5f},
};

int g_sizeChoiceId = ID_SIZE_25;
std::atomic<float> g_scaleFactor(0.25f);

bool ApplySizeChoice(int id)
{
    for (const SizeChoice &choice : g_sizeChoices)
    {
        if (choice.id == id)
        {
            g_sizeChoiceId = choice.id;
            g_scaleFactor = choice.factor;
            return true;
        }
    }
    return false;
}
