// read_box.exe PROGRAM [SECONDS]: prints, as UTF-8, the text of the message box that the running
// PROGRAM (an image name such as matrix-update.exe) shows, waiting up to SECONDS (default 10)
// for one to come up. A test tool of the Windows person test (tests/wine/dialog_wine.sh), run
// under Wine in the dialog's prefix; it is never shipped. Exit status: 0 the text was printed,
// 1 no box came up, 2 usage, 3 more than one box is up.
//
// A message box is a top-level dialog (class "#32770") owned by the window it was shown for,
// with its text in the static control 0xFFFF. The program's own dialog is a "#32770" too, and
// its group boxes carry the id 0xFFFF, but nothing owns it: only owned dialogs are taken.

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;
constexpr DWORD POLL_MS = 100;

struct CSearch {
    std::wstring strProgram; // the image name looked for, e.g. matrix-update.exe
    std::vector<HWND> aBoxes;
};

// The file name of the image that runs process nPid, or "" when it cannot be asked.
std::wstring ImageNameOf(DWORD nPid)
{
    HANDLE hProcess = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, nPid);
    if (hProcess == nullptr)
        return std::wstring();
    wchar_t szPath[MAX_PATH * 4];
    DWORD nLength = sizeof(szPath) / sizeof(szPath[0]);
    const BOOL bOk = ::QueryFullProcessImageNameW(hProcess, 0, szPath, &nLength);
    ::CloseHandle(hProcess);
    if (!bOk)
        return std::wstring();
    const std::wstring strPath(szPath, nLength);
    const size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
}

BOOL CALLBACK NoteBox(HWND hWnd, LPARAM lParam)
{
    CSearch* pSearch = reinterpret_cast<CSearch*>(lParam);
    wchar_t szClass[16];
    if (!::IsWindowVisible(hWnd) || ::GetClassNameW(hWnd, szClass, 16) == 0 || ::lstrcmpW(szClass, L"#32770") != 0)
        return TRUE;
    HWND hOwner = ::GetWindow(hWnd, GW_OWNER);
    if (hOwner == nullptr || ::GetDlgItem(hWnd, MESSAGE_BOX_TEXT_ID) == nullptr)
        return TRUE;
    DWORD nPid = 0;
    DWORD nOwnerPid = 0;
    ::GetWindowThreadProcessId(hWnd, &nPid);
    ::GetWindowThreadProcessId(hOwner, &nOwnerPid);
    if (nPid == nOwnerPid && ::lstrcmpiW(ImageNameOf(nPid).c_str(), pSearch->strProgram.c_str()) == 0)
        pSearch->aBoxes.push_back(hWnd);
    return TRUE;
}

// The text of the box's static control, as UTF-8.
std::string BoxText(HWND hBox)
{
    HWND hText = ::GetDlgItem(hBox, MESSAGE_BOX_TEXT_ID);
    const int nLength = ::GetWindowTextLengthW(hText);
    std::wstring strWide(static_cast<size_t>(nLength) + 1, L'\0');
    const int nGot = ::GetDlgItemTextW(hBox, MESSAGE_BOX_TEXT_ID, strWide.data(), nLength + 1);
    strWide.resize(static_cast<size_t>(nGot));
    const int nBytes = ::WideCharToMultiByte(CP_UTF8, 0, strWide.data(), nGot, nullptr, 0, nullptr, nullptr);
    std::string strText(static_cast<size_t>(nBytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, strWide.data(), nGot, strText.data(), nBytes, nullptr, nullptr);
    return strText;
}

void Write(HANDLE hOut, const std::string& strText)
{
    DWORD nWritten = 0;
    ::WriteFile(hOut, strText.data(), static_cast<DWORD>(strText.size()), &nWritten, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    HANDLE hErr = ::GetStdHandle(STD_ERROR_HANDLE);
    if (argc < 2 || argc > 3) {
        Write(hErr, "usage: read_box.exe PROGRAM [SECONDS]\n");
        return 2;
    }
    CSearch search;
    for (const char* p = argv[1]; *p != '\0'; ++p)
        search.strProgram += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    const DWORD nWaitMs = static_cast<DWORD>((argc == 3 ? std::atoi(argv[2]) : 10) * 1000);

    const DWORD nStart = ::GetTickCount();
    for (;;) {
        search.aBoxes.clear();
        ::EnumWindows(NoteBox, reinterpret_cast<LPARAM>(&search));
        if (!search.aBoxes.empty() || ::GetTickCount() - nStart >= nWaitMs)
            break;
        ::Sleep(POLL_MS);
    }
    if (search.aBoxes.empty()) {
        Write(hErr, "read_box: " + std::string(argv[1]) + " shows no message box.\n");
        return 1;
    }
    if (search.aBoxes.size() > 1) {
        Write(hErr, "read_box: " + std::string(argv[1]) + " shows " + std::to_string(search.aBoxes.size())
                        + " message boxes at once.\n");
        return 3;
    }
    // No line end of our own: the box's text, exactly, with its line ends as it has them.
    Write(::GetStdHandle(STD_OUTPUT_HANDLE), BoxText(search.aBoxes[0]));
    return 0;
}
