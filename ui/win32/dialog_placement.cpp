#include "ui/win32/dialog_placement.h"

#include <cstring>

namespace {

// The smallest font the dialog is made with: smaller text would not be read.
constexpr int MIN_POINT_SIZE = 6;
// Where an extended template keeps the dialog's position and size, in dialog units.
constexpr size_t TEMPLATE_X_OFFSET = 18;
constexpr size_t TEMPLATE_Y_OFFSET = 20;
constexpr size_t TEMPLATE_CX_OFFSET = 22;
constexpr size_t TEMPLATE_CY_OFFSET = 24;
// STARTF_USEMONITOR, which the cross compiler's headers do not have.
constexpr DWORD START_ON_MONITOR = 0x400;

// Reads a little-endian word of a template at nOffset, when it is inside the nSize bytes.
bool ReadWord(const uint8_t* pData, size_t nSize, size_t nOffset, uint16_t* pnWord)
{
    if (nOffset > nSize || nSize - nOffset < 2)
        return false;
    *pnWord = static_cast<uint16_t>(pData[nOffset] | (pData[nOffset + 1] << 8));
    return true;
}

// Writes a little-endian word into the template; a value past a word's range is held at its end.
void WriteWord(std::vector<uint8_t>* pabTemplate, size_t nOffset, int nValue)
{
    if (nOffset > pabTemplate->size() || pabTemplate->size() - nOffset < 2)
        return;
    nValue = nValue < -32768 ? -32768 : (nValue > 32767 ? 32767 : nValue);
    const auto nWord = static_cast<uint16_t>(static_cast<int16_t>(nValue));
    (*pabTemplate)[nOffset] = static_cast<uint8_t>(nWord & 0xFF);
    (*pabTemplate)[nOffset + 1] = static_cast<uint8_t>(nWord >> 8);
}

bool ReadDword(const uint8_t* pData, size_t nSize, size_t nOffset, uint32_t* pnDword)
{
    uint16_t nLow = 0;
    uint16_t nHigh = 0;
    if (!ReadWord(pData, nSize, nOffset, &nLow) || !ReadWord(pData, nSize, nOffset + 2, &nHigh))
        return false;
    *pnDword = nLow | (static_cast<uint32_t>(nHigh) << 16);
    return true;
}

// Steps over a zero-ended string of words from *pnOffset; its text in *pstr when given.
bool SkipString(const uint8_t* pData, size_t nSize, size_t* pnOffset, std::wstring* pstr = nullptr)
{
    for (;;) {
        uint16_t nChar = 0;
        if (!ReadWord(pData, nSize, *pnOffset, &nChar))
            return false;
        *pnOffset += 2;
        if (nChar == 0)
            return true;
        if (pstr != nullptr)
            pstr->push_back(static_cast<wchar_t>(nChar));
    }
}

// A menu or class field: none (0), a number (0xFFFF and one word) or a string.
bool SkipNameOrNumber(const uint8_t* pData, size_t nSize, size_t* pnOffset)
{
    uint16_t nFirst = 0;
    if (!ReadWord(pData, nSize, *pnOffset, &nFirst))
        return false;
    if (nFirst == 0) {
        *pnOffset += 2;
        return true;
    }
    if (nFirst == 0xFFFF) {
        *pnOffset += 4;
        return *pnOffset <= nSize;
    }
    return SkipString(pData, nSize, pnOffset);
}

using GetDpiForMonitorProc = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using AdjustWindowRectExForDpiProc = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

// The dots per inch the dialog is laid out with on hMonitor: the monitor's own where the system
// tells it (Windows 8.1 and later), else the screen's.
UINT GetMonitorDpi(HMONITOR hMonitor)
{
    if (HMODULE hShcore = ::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        auto pfnGetDpi = reinterpret_cast<GetDpiForMonitorProc>(
            reinterpret_cast<void*>(::GetProcAddress(hShcore, "GetDpiForMonitor")));
        UINT nDpiX = 0;
        UINT nDpiY = 0;
        // 0: the effective DPI, the one the process is to draw with.
        const bool bKnown = pfnGetDpi != nullptr && SUCCEEDED(pfnGetDpi(hMonitor, 0, &nDpiX, &nDpiY)) && nDpiY > 0;
        ::FreeLibrary(hShcore);
        if (bKnown)
            return nDpiY;
    }
    UINT nDpi = 96;
    if (HDC hScreen = ::GetDC(nullptr)) {
        nDpi = static_cast<UINT>(::GetDeviceCaps(hScreen, LOGPIXELSY));
        ::ReleaseDC(nullptr, hScreen);
    }
    return nDpi > 0 ? nDpi : 96;
}

RECT GetWorkArea(HMONITOR hMonitor)
{
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (hMonitor != nullptr && ::GetMonitorInfoW(hMonitor, &info))
        return info.rcWork;
    RECT rcWork = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    (void)::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    return rcWork;
}

// The template of dialog nId, copied so that its font size can be changed.
std::vector<uint8_t> LoadDialogTemplate(int nId)
{
    HMODULE hModule = ::GetModuleHandleW(nullptr);
    HRSRC hResource = ::FindResourceW(hModule, MAKEINTRESOURCEW(nId), MAKEINTRESOURCEW(5)); // RT_DIALOG
    if (hResource == nullptr)
        return {};
    HGLOBAL hLoaded = ::LoadResource(hModule, hResource);
    const void* pData = hLoaded != nullptr ? ::LockResource(hLoaded) : nullptr;
    const DWORD dwSize = ::SizeofResource(hModule, hResource);
    if (pData == nullptr || dwSize == 0)
        return {};
    const auto* pBytes = static_cast<const uint8_t*>(pData);
    return std::vector<uint8_t>(pBytes, pBytes + dwSize);
}

} // namespace

bool ParseDialogTemplate(const uint8_t* pData, size_t nSize, CDialogTemplateInfo* pInfo)
{
    uint16_t nVersion = 0;
    uint16_t nSignature = 0;
    if (pData == nullptr || !ReadWord(pData, nSize, 0, &nVersion) || !ReadWord(pData, nSize, 2, &nSignature) ||
        nVersion != 1 || nSignature != 0xFFFF)
        return false;
    CDialogTemplateInfo info;
    uint32_t dwExStyle = 0;
    uint32_t dwStyle = 0;
    uint16_t nWidth = 0;
    uint16_t nHeight = 0;
    // dlgVer, signature, helpID, exStyle, style, cDlgItems, x, y, cx, cy.
    if (!ReadDword(pData, nSize, 8, &dwExStyle) || !ReadDword(pData, nSize, 12, &dwStyle) ||
        !ReadWord(pData, nSize, TEMPLATE_CX_OFFSET, &nWidth) || !ReadWord(pData, nSize, TEMPLATE_CY_OFFSET, &nHeight))
        return false;
    info.dwExStyle = dwExStyle;
    info.dwStyle = dwStyle;
    info.nWidthDu = static_cast<int16_t>(nWidth);
    info.nHeightDu = static_cast<int16_t>(nHeight);
    if ((dwStyle & (DS_SETFONT | DS_SHELLFONT)) == 0 || info.nWidthDu <= 0 || info.nHeightDu <= 0)
        return false;
    size_t nOffset = 26;
    if (!SkipNameOrNumber(pData, nSize, &nOffset) || !SkipNameOrNumber(pData, nSize, &nOffset) ||
        !SkipString(pData, nSize, &nOffset))
        return false;
    // pointsize, weight, italic and charset bytes, then the face name.
    uint16_t nPoints = 0;
    uint16_t nWeight = 0;
    if (!ReadWord(pData, nSize, nOffset, &nPoints) || !ReadWord(pData, nSize, nOffset + 2, &nWeight) ||
        nSize - nOffset < 6)
        return false;
    info.nPointSize = nPoints;
    info.nPointSizeOffset = nOffset;
    info.nWeight = nWeight != 0 ? nWeight : FW_NORMAL;
    info.bItalic = pData[nOffset + 4] != 0;
    nOffset += 6;
    if (!SkipString(pData, nSize, &nOffset, &info.strFace) || info.nPointSize <= 0)
        return false;
    *pInfo = info;
    return true;
}

HMONITOR GetStartMonitor()
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    // The shell passes the monitor in place of the standard output when it asks for one.
    if ((startup.dwFlags & START_ON_MONITOR) != 0) {
        auto hMonitor = reinterpret_cast<HMONITOR>(startup.hStdOutput);
        MONITORINFO info = {};
        info.cbSize = sizeof info;
        if (::GetMonitorInfoW(hMonitor, &info))
            return hMonitor;
    }
    POINT pt = {};
    if (::GetCursorPos(&pt))
        return ::MonitorFromPoint(pt, MONITOR_DEFAULTTOPRIMARY);
    return ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
}

// The pixels of a horizontal and a vertical dialog unit for the dialog's font at nPoints and
// nDpi, as the system derives them: a quarter of the average width of the alphabet's letters,
// an eighth of the font's height. {0, 0} when the font cannot be measured.
SIZE GetDialogUnits(const CDialogTemplateInfo& info, int nPoints, UINT nDpi)
{
    SIZE units = {0, 0};
    HDC hScreen = ::GetDC(nullptr);
    if (hScreen == nullptr)
        return units;
    HFONT hFont = ::CreateFontW(-::MulDiv(nPoints, static_cast<int>(nDpi), 72), 0, 0, 0, info.nWeight, info.bItalic,
                                FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, info.strFace.c_str());
    HGDIOBJ hOld = hFont != nullptr ? ::SelectObject(hScreen, hFont) : nullptr;
    static const wchar_t szAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE alphabet = {};
    TEXTMETRICW metrics = {};
    const bool bMeasured = ::GetTextExtentPoint32W(hScreen, szAlphabet, 52, &alphabet) &&
                           ::GetTextMetricsW(hScreen, &metrics);
    if (hOld != nullptr)
        ::SelectObject(hScreen, hOld);
    if (hFont != nullptr)
        ::DeleteObject(hFont);
    ::ReleaseDC(nullptr, hScreen);
    if (bMeasured && alphabet.cx > 0 && metrics.tmHeight > 0) {
        units.cx = (alphabet.cx / 26 + 1) / 2;
        units.cy = metrics.tmHeight;
    }
    return units;
}

SIZE GetDialogWindowSize(const CDialogTemplateInfo& info, int nPoints, UINT nDpi)
{
    SIZE size = {0, 0};
    const SIZE units = GetDialogUnits(info, nPoints, nDpi);
    if (units.cx <= 0 || units.cy <= 0)
        return size;
    RECT rc = {0, 0, ::MulDiv(info.nWidthDu, units.cx, 4), ::MulDiv(info.nHeightDu, units.cy, 8)};
    // The frame and caption at the monitor's scale where the system can tell it (Windows 10).
    auto pfnAdjustForDpi = reinterpret_cast<AdjustWindowRectExForDpiProc>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (pfnAdjustForDpi == nullptr || !pfnAdjustForDpi(&rc, info.dwStyle, FALSE, info.dwExStyle, nDpi))
        ::AdjustWindowRectEx(&rc, info.dwStyle, FALSE, info.dwExStyle);
    size.cx = rc.right - rc.left;
    size.cy = rc.bottom - rc.top;
    return size;
}

void CentreInWorkArea(HWND hWnd, const RECT& rcWork)
{
    RECT rc = {};
    if (!::GetWindowRect(hWnd, &rc))
        return;
    const int nWidth = rc.right - rc.left;
    const int nHeight = rc.bottom - rc.top;
    int nLeft = rcWork.left + ((rcWork.right - rcWork.left) - nWidth) / 2;
    int nTop = rcWork.top + ((rcWork.bottom - rcWork.top) - nHeight) / 2;
    if (nLeft < rcWork.left)
        nLeft = rcWork.left;
    if (nTop < rcWork.top)
        nTop = rcWork.top;
    ::SetWindowPos(hWnd, nullptr, nLeft, nTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND CreateDialogOnStartMonitor(int nId, DLGPROC pfnProc, LPARAM lParam)
{
    HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    const HMONITOR hMonitor = GetStartMonitor();
    const RECT rcWork = GetWorkArea(hMonitor);
    std::vector<uint8_t> abTemplate = LoadDialogTemplate(nId);
    CDialogTemplateInfo info;
    HWND hWnd = nullptr;
    if (ParseDialogTemplate(abTemplate.data(), abTemplate.size(), &info)) {
        const UINT nDpi = GetMonitorDpi(hMonitor);
        int nPoints = info.nPointSize;
        for (; nPoints > MIN_POINT_SIZE; --nPoints) {
            const SIZE size = GetDialogWindowSize(info, nPoints, nDpi);
            if (size.cx <= rcWork.right - rcWork.left && size.cy <= rcWork.bottom - rcWork.top)
                break;
        }
        WriteWord(&abTemplate, info.nPointSizeOffset, nPoints);
        // Made on the start monitor itself, at its work area's corner: a window made elsewhere
        // and moved there would be scaled again for that monitor's DPI on the way.
        const SIZE units = GetDialogUnits(info, nPoints, nDpi);
        if (units.cx > 0 && units.cy > 0) {
            WriteWord(&abTemplate, TEMPLATE_X_OFFSET, ::MulDiv(rcWork.left, 4, units.cx));
            WriteWord(&abTemplate, TEMPLATE_Y_OFFSET, ::MulDiv(rcWork.top, 8, units.cy));
        }
        // The template holds its words at even offsets, as the system wants them: the copy is
        // as aligned as any allocation.
        hWnd = ::CreateDialogIndirectParamW(hInstance, reinterpret_cast<LPCDLGTEMPLATEW>(abTemplate.data()), nullptr,
                                            pfnProc, lParam);
    } else {
        hWnd = ::CreateDialogParamW(hInstance, MAKEINTRESOURCEW(nId), nullptr, pfnProc, lParam);
    }
    if (hWnd != nullptr)
        CentreInWorkArea(hWnd, rcWork);
    return hWnd;
}
