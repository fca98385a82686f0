// window_probe.exe TITLE: where the window of that title and its controls are on the screen, as
// Windows places them, so a test can read their pixels from a screenshot. Prints
// "client X Y WIDTH HEIGHT" for the window's client area, then "control ID X Y WIDTH HEIGHT"
// for each control, in screen pixels. Exit status 1 when no such window is shown.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void PrintRect(const char* pszWhat, long nId, const RECT& rc)
{
    if (nId >= 0)
        std::printf("%s %ld %ld %ld %ld %ld\n", pszWhat, nId, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    else
        std::printf("%s %ld %ld %ld %ld\n", pszWhat, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_probe TITLE\n");
        return 2;
    }
    HWND hWnd = ::FindWindowW(nullptr, argv[1]);
    if (hWnd == nullptr || !::IsWindowVisible(hWnd))
        return 1;
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    ::MapWindowPoints(hWnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    PrintRect("client", -1, rc);
    ::EnumChildWindows(
        hWnd,
        [](HWND hChild, LPARAM) -> BOOL {
            RECT rcChild;
            ::GetWindowRect(hChild, &rcChild);
            PrintRect("control", ::GetDlgCtrlID(hChild), rcChild);
            return TRUE;
        },
        0);
    return 0;
}
