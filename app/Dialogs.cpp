#include "Dialogs.h"

#include "batch/ResizeSettings.h"
#include "imaging/ExceptionBoundary.h"

// A dialog procedure that throws answers FALSE: the message was not
// handled, and the dialog manager does what it does by default.
INT_PTR CALLBACK SimpleDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    return AnswerWithoutThrowing(static_cast<INT_PTR>(FALSE), [&]() -> INT_PTR {
        switch (message)
        {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL)
                return FALSE;
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    });
}

static void StoreCheckedSizeChoice(HWND dialog)
{
    for (const SizeChoice &choice : g_sizeChoices)
    {
        if (SendDlgItemMessageW(dialog, choice.id, BM_GETSTATE, 0, 0) & BST_CHECKED)
        {
            ApplySizeChoice(choice.id);
            return;
        }
    }
}

INT_PTR CALLBACK ImageSizeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    return AnswerWithoutThrowing(static_cast<INT_PTR>(FALSE), [&]() -> INT_PTR {
        switch (message)
        {
        case WM_INITDIALOG:
            SendDlgItemMessageW(dialog, g_sizeChoiceId, BM_SETCHECK, BST_CHECKED, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDOK)
                return FALSE;
            StoreCheckedSizeChoice(dialog);
            EndDialog(dialog, 1);
            return TRUE;
        }
        return FALSE;
    });
}
