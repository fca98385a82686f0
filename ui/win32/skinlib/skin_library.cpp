// matrixskin.dll: the skin library of the Windows programs. Start-up brings it in from the
// program's folder and calls LoadSkin with the unpacked skin file (the same style sheet the
// Linux library applies) and 0; at the end ExitSkin, then it releases the library. Between the
// two, every window the program's thread makes is drawn in the skin's palette.

#include <windows.h>

#include <memory>
#include <string>

#include "skin/skin_palette.h"
#include "ui/win32/skinlib/skinned_windows.h"

namespace {

enum ESkinResult {
    SKIN_OK = 0,
    SKIN_BAD_ARGUMENT = 2,
    SKIN_UNREADABLE = 3,
    SKIN_NOT_A_SKIN = 4,      // the file is damaged or gives no whole palette
    SKIN_CANNOT_INSTALL = 5,  // the system refused the hook or the brushes
    SKIN_WRONG_THREAD = 6,    // ExitSkin on another thread than LoadSkin
};

// The skin in force, or none. Made and ended on the program's user-interface thread only.
CSkinnedWindows* g_pSkin = nullptr;

struct CHandleCloser {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};

// The path comes as the program keeps its texts: UTF-8.
std::wstring PathFromUtf8(const char* pszPath)
{
    const int nLength = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszPath, -1, nullptr, 0);
    if (nLength <= 1)
        return std::wstring();
    std::wstring str(static_cast<size_t>(nLength), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszPath, -1, str.data(), nLength);
    str.resize(static_cast<size_t>(nLength) - 1);
    return str;
}

// Reads the whole skin file, which must be a regular file of at most MAX_SKIN_FILE_BYTES.
bool ReadSkinFile(const std::wstring& strPath, std::string* pstrText, bool* pbTooLarge)
{
    std::unique_ptr<void, CHandleCloser> file(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return false;
    }
    LARGE_INTEGER size = {};
    if (::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.get(), &size))
        return false;
    if (size.QuadPart > static_cast<LONGLONG>(MAX_SKIN_FILE_BYTES)) {
        *pbTooLarge = true;
        return true;
    }
    pstrText->resize(static_cast<size_t>(size.QuadPart));
    size_t nDone = 0;
    while (nDone < pstrText->size()) {
        DWORD dwRead = 0;
        if (!::ReadFile(file.get(), pstrText->data() + nDone, static_cast<DWORD>(pstrText->size() - nDone), &dwRead,
                        nullptr))
            return false;
        if (dwRead == 0)
            break; // shorter than it was a moment ago: what is there is read
        nDone += dwRead;
    }
    pstrText->resize(nDone);
    return true;
}

void EndSkin()
{
    delete g_pSkin;
    g_pSkin = nullptr;
}

} // namespace

// Applies the skin file at pszPath (UTF-8) to every window this thread makes from now on, and
// to those it already has. nFlags is 0. A second call replaces the first skin. Returns 0, or
// why nothing changed (the program ignores it and keeps the ordinary look).
extern "C" __declspec(dllexport) int LoadSkin(const char* pszPath, int nFlags)
{
    (void)nFlags; // the program always passes 0
    if (pszPath == nullptr || *pszPath == '\0')
        return SKIN_BAD_ARGUMENT;
    const std::wstring strPath = PathFromUtf8(pszPath);
    if (strPath.empty())
        return SKIN_BAD_ARGUMENT;
    std::string strText;
    bool bTooLarge = false;
    if (!ReadSkinFile(strPath, &strText, &bTooLarge))
        return SKIN_UNREADABLE;
    CSkinPalette palette;
    if (bTooLarge || !ParseSkinPalette(strText, &palette))
        return SKIN_NOT_A_SKIN;

    if (g_pSkin != nullptr && g_pSkin->GetThreadId() != ::GetCurrentThreadId())
        return SKIN_WRONG_THREAD;
    EndSkin();
    auto pSkin = std::make_unique<CSkinnedWindows>(palette);
    if (!pSkin->Install())
        return SKIN_CANNOT_INSTALL;
    g_pSkin = pSkin.release();
    return SKIN_OK;
}

// Removes the skin: the hook and every subclass go, the skin's GDI objects are deleted, and the
// windows still open are drawn in the ordinary look again. Must be called on the thread that
// loaded the skin (a window's subclass can only be removed by its own thread).
extern "C" __declspec(dllexport) int ExitSkin()
{
    if (g_pSkin != nullptr && g_pSkin->GetThreadId() != ::GetCurrentThreadId())
        return SKIN_WRONG_THREAD;
    EndSkin();
    return SKIN_OK;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID pReserved)
{
    // Released without ExitSkin: the hook and subclasses would call into code that is gone, so
    // they are taken down here. At process exit (pReserved set) nothing is called any more.
    if (dwReason == DLL_PROCESS_DETACH && pReserved == nullptr && g_pSkin != nullptr &&
        g_pSkin->GetThreadId() == ::GetCurrentThreadId())
        EndSkin();
    return TRUE;
}
