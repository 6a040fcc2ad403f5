#include "FolderBrowser.h"

#include "AppSession.h"

#include <commctrl.h>
#include <shlobj.h>

namespace
{
// A block of memory inside another process, freed when it goes out of scope.
class RemoteBlock
{
public:
    RemoteBlock(HANDLE process, SIZE_T size)
        : process_(process),
          address_(VirtualAllocEx(process, NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
    }
    ~RemoteBlock()
    {
        if (address_)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock &) = delete;
    RemoteBlock &operator=(const RemoteBlock &) = delete;
    BYTE *Address() const { return static_cast<BYTE *>(address_); }
    bool Write(SIZE_T offset, const void *data, SIZE_T size) const
    {
        SIZE_T written = 0;
        return WriteProcessMemory(process_, Address() + offset, data, size, &written) && written == size;
    }
    bool Read(SIZE_T offset, void *data, SIZE_T size) const
    {
        SIZE_T read = 0;
        return ReadProcessMemory(process_, Address() + offset, data, size, &read) && read == size;
    }

private:
    HANDLE process_;
    void *address_;
};

// Wine builds the browser's item ids from each folder's listing, access time
// included, and compares them with ids it made earlier; a folder whose
// access time has moved on since then is not found and the selection
// silently stays where it was. Listing every folder on the way, right
// before the selection, makes the times agree. On Windows this is harmless.
void ListFolderOnce(const std::wstring &folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    while (FindNextFileW(find, &entry))
    {
    }
    FindClose(find);
}

void ListEveryAncestor(const std::wstring &folder)
{
    size_t start = 0;
    for (;;)
    {
        const size_t slash = folder.find(L'\\', start);
        ListFolderOnce(slash == std::wstring::npos ? folder : folder.substr(0, slash));
        if (slash == std::wstring::npos)
            return;
        start = slash + 1;
    }
}

std::wstring LastComponent(const std::wstring &folder)
{
    const size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? folder : folder.substr(slash + 1);
}
} // namespace

std::wstring ReadSelectedFolderName(HANDLE process, HWND browser)
{
    HWND tree = GetDlgItem(browser, FOLDER_BROWSER_TREE);
    LRESULT item = 0;
    if (!tree || !SendWithTimeout(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, &item) || !item)
        return std::wstring();

    const int textChars = MAX_PATH;
    RemoteBlock block(process, sizeof(TVITEMW) + textChars * sizeof(wchar_t));
    if (!block.Address())
        return std::wstring();
    TVITEMW request;
    ZeroMemory(&request, sizeof(request));
    request.mask = TVIF_TEXT;
    request.hItem = reinterpret_cast<HTREEITEM>(item);
    request.pszText = reinterpret_cast<wchar_t *>(block.Address() + sizeof(TVITEMW));
    request.cchTextMax = textChars;
    wchar_t text[textChars] = L"";
    LRESULT done = 0;
    if (!block.Write(0, &request, sizeof(request)) || !block.Write(sizeof(TVITEMW), text, sizeof(wchar_t)) ||
        !SendWithTimeout(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.Address()), &done) || !done ||
        !block.Read(sizeof(TVITEMW), text, sizeof(text)))
        return std::wstring();
    text[textChars - 1] = L'\0';
    return text;
}

bool SelectFolderInBrowser(HANDLE process, HWND browser, const std::wstring &folder, std::wstring *error)
{
    const SIZE_T bytes = (folder.size() + 1) * sizeof(wchar_t);
    RemoteBlock path(process, bytes);
    if (!path.Address() || !path.Write(0, folder.c_str(), bytes))
    {
        *error = L"could not write the path into the program's memory";
        return false;
    }
    const std::wstring wanted = LastComponent(folder);
    std::wstring selected;
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        ListEveryAncestor(folder);
        SendWithTimeout(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.Address()), NULL);
        selected = ReadSelectedFolderName(process, browser);
        if (_wcsicmp(selected.c_str(), wanted.c_str()) == 0)
            return true;
        Sleep(200);
    }
    *error = L"the browser selected \"" + selected + L"\" instead of \"" + wanted + L"\"";
    return false;
}

bool ChooseFolderInBrowser(HANDLE process, HWND browser, const std::wstring &folder, std::wstring *error)
{
    if (!SelectFolderInBrowser(process, browser, folder, error))
        return false;
    if (ClickDialogButton(browser, FOLDER_BROWSER_OK))
        return true;
    *error = L"the browser's OK button did not answer";
    return false;
}
