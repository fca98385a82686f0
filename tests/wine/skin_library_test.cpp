// matrixskin.dll in a process of its own, under Wine on a virtual display (the windows need
// one): loaded as start-up loads it, it draws the standard controls in the skin's colours, keeps
// focus and disabled controls visible, skins message boxes, and its exit takes everything back:
// the GDI objects counted before the load are the ones counted after the exit, windows made
// afterwards have the ordinary look, and the library can be released while windows still come.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <winternl.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "skin/skin_bootstrap.h"
#include "skin/skin_palette.h"
#include "skin/zip_reader.h"
#include "tests/support/temp_dir.h"
#include "ui/win32/skinlib/gdi_owners.h"
#include "platform/win32/wide_string.h"

namespace {

using LoadSkinProc = int (*)(const char*, int);
using ExitSkinProc = int (*)();

// The process's GDI objects. Wine does not count them for GetGuiResources (it answers 0), so
// there they are counted in the GDI handle table the system maps into every process (its
// address is in the process environment block; under Wine the table is the process's own).
size_t CountGdiObjects()
{
    const DWORD dwCount = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    if (dwCount != 0)
        return dwCount;
    struct CHandleEntry {
        uint64_t nObject;
        uint32_t nOwner;
        uint16_t nUnique;
        uint8_t nType;
        uint8_t nFlags;
        uint64_t nUser;
    };
    static_assert(sizeof(CHandleEntry) == 24);
    constexpr size_t GDI_SHARED_HANDLE_TABLE_OFFSET = 0xF8; // in the 64-bit process environment block
    constexpr size_t GDI_HANDLE_COUNT = 0x10000;
    using QueryProc = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
    const auto pfnQuery = reinterpret_cast<QueryProc>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info = {};
    if (pfnQuery == nullptr ||
        pfnQuery(::GetCurrentProcess(), ProcessBasicInformation, &info, sizeof(info), nullptr) != 0 ||
        info.PebBaseAddress == nullptr)
        return 0;
    const auto* pPeb = reinterpret_cast<const uint8_t*>(info.PebBaseAddress);
    const auto* pTable = *reinterpret_cast<const CHandleEntry* const*>(pPeb + GDI_SHARED_HANDLE_TABLE_OFFSET);
    if (pTable == nullptr)
        return 0;
    size_t nCount = 0;
    for (size_t i = 0; i < GDI_HANDLE_COUNT; ++i)
        nCount += pTable[i].nType != 0 ? 1 : 0;
    return nCount;
}

COLORREF ToRgb(const CSkinColour& c)
{
    return RGB(c.m_nRed, c.m_nGreen, c.m_nBlue);
}

COLORREF BrushColour(LRESULT nBrush)
{
    LOGBRUSH lb = {};
    if (nBrush == 0 || ::GetObjectW(reinterpret_cast<HBRUSH>(nBrush), sizeof(lb), &lb) != sizeof(lb))
        return CLR_INVALID;
    return lb.lbColor;
}

// A picture of a window's client area, as the window draws it for WM_PRINTCLIENT.
struct CPicture {
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<COLORREF> m_aPixels;

    COLORREF At(int x, int y) const { return m_aPixels[static_cast<size_t>(y) * m_nWidth + x]; }
    // The colour most pixels of rc have.
    COLORREF Dominant(RECT rc) const
    {
        std::map<COLORREF, int> mapCount;
        for (int y = std::max(0L, rc.top); y < std::min<LONG>(m_nHeight, rc.bottom); ++y)
            for (int x = std::max(0L, rc.left); x < std::min<LONG>(m_nWidth, rc.right); ++x)
                ++mapCount[At(x, y)];
        COLORREF clr = CLR_INVALID;
        int nMost = 0;
        for (const auto& [clrPixel, nCount] : mapCount) {
            if (nCount > nMost) {
                nMost = nCount;
                clr = clrPixel;
            }
        }
        return clr;
    }
    COLORREF Dominant() const { return Dominant({0, 0, m_nWidth, m_nHeight}); }
    int Count(RECT rc, COLORREF clr) const
    {
        int n = 0;
        for (int y = std::max(0L, rc.top); y < std::min<LONG>(m_nHeight, rc.bottom); ++y)
            for (int x = std::max(0L, rc.left); x < std::min<LONG>(m_nWidth, rc.right); ++x)
                n += At(x, y) == clr ? 1 : 0;
        return n;
    }
    int Differences(const CPicture& other) const
    {
        if (other.m_aPixels.size() != m_aPixels.size())
            return static_cast<int>(m_aPixels.size());
        int n = 0;
        for (size_t i = 0; i < m_aPixels.size(); ++i)
            n += m_aPixels[i] != other.m_aPixels[i] ? 1 : 0;
        return n;
    }
};

CPicture Picture(HWND hWnd)
{
    CPicture picture;
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    picture.m_nWidth = rc.right;
    picture.m_nHeight = rc.bottom;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = rc.right;
    bmi.bmiHeader.biHeight = -rc.bottom;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* pBits = nullptr;
    CBitmap bitmap(::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0));
    HDC hDC = ::CreateCompatibleDC(nullptr);
    if (bitmap && hDC != nullptr) {
        {
            CSelection selected(hDC, bitmap.Get());
            ::SendMessageW(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0);
            ::SendMessageW(hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(hDC), PRF_CLIENT);
            ::GdiFlush();
        }
        const auto* pPixels = static_cast<const uint32_t*>(pBits);
        for (int i = 0; i < rc.right * rc.bottom; ++i)
            picture.m_aPixels.push_back(RGB((pPixels[i] >> 16) & 0xFF, (pPixels[i] >> 8) & 0xFF, pPixels[i] & 0xFF));
    }
    if (hDC != nullptr)
        ::DeleteDC(hDC);
    return picture;
}

// Handles what is waiting. Bounded: a window whose paint keeps failing would otherwise get
// its paint message for ever.
void Pump()
{
    MSG msg;
    for (int n = 0; n < 1000 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// A dialog with one control of each kind the update dialog has, made as the program makes its
// own: a dialog from a template, controls inside it.
class CTestDialog {
public:
    CTestDialog()
    {
        // An empty dialog template: style, no controls, position and size, no menu, the
        // standard class, a caption.
        alignas(4) static const WORD awTemplate[] = {
            LOWORD(WS_POPUP | WS_BORDER | WS_VISIBLE), HIWORD(WS_POPUP | WS_BORDER | WS_VISIBLE), 0, 0, 0,
            10, 10, 240, 160, 0, 0, L's', L'k', L'i', L'n', 0};
        m_hWnd = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr),
                                              reinterpret_cast<const DLGTEMPLATE*>(awTemplate), nullptr,
                                              &PlainDialogProc, 0);
        m_hButton = Add(L"Button", L"Exit", BS_PUSHBUTTON | WS_TABSTOP, 10, 10, 90, 28);
        m_hDefault = Add(L"Button", L"Start", BS_DEFPUSHBUTTON | WS_TABSTOP, 110, 10, 90, 28);
        m_hGroup = Add(L"Button", L"Port", BS_GROUPBOX, 10, 45, 200, 70);
        m_hEdit = Add(L"Edit", L"pattern.bin", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 20, 65, 100, 24);
        m_hCombo = Add(L"ComboBox", L"", CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 130, 65, 70, 120);
        m_hProgress = Add(PROGRESS_CLASSW, L"", WS_BORDER, 10, 130, 200, 20);
        ::SendMessageW(m_hProgress, PBM_SETRANGE32, 0, 100);
        ::SendMessageW(m_hProgress, PBM_SETPOS, 50, 0);
        ::UpdateWindow(m_hWnd);
        Pump();
    }
    ~CTestDialog()
    {
        if (m_hWnd != nullptr)
            ::DestroyWindow(m_hWnd);
        Pump();
    }
    CTestDialog(const CTestDialog&) = delete;
    CTestDialog& operator=(const CTestDialog&) = delete;

    HWND m_hWnd = nullptr;
    HWND m_hButton = nullptr;
    HWND m_hDefault = nullptr;
    HWND m_hGroup = nullptr;
    HWND m_hEdit = nullptr;
    HWND m_hCombo = nullptr;
    HWND m_hProgress = nullptr;

private:
    HWND Add(const wchar_t* pszClass, const wchar_t* pszText, DWORD dwStyle, int x, int y, int cx, int cy)
    {
        return ::CreateWindowExW(0, pszClass, pszText, WS_CHILD | WS_VISIBLE | dwStyle, x, y, cx, cy, m_hWnd, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    }
};

// Calls into code that is gone: Wine lets a window procedure or hook fail that way without
// ending the program, so they are counted.
int g_nAccessViolations = 0;
void* g_pFaultAddress = nullptr;

LONG CALLBACK CountAccessViolations(EXCEPTION_POINTERS* pException)
{
    if (pException->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
        ++g_nAccessViolations;
        g_pFaultAddress = pException->ExceptionRecord->ExceptionAddress;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

class SkinLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        // As the program does: the common controls stay loaded whatever the library does.
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ASSERT_TRUE(::InitCommonControlsEx(&controls));
        wchar_t szModule[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, szModule, MAX_PATH);
        const std::filesystem::path folder = std::filesystem::path(szModule).parent_path();
        m_hLibrary = ::LoadLibraryW((folder / L"matrixskin.dll").c_str());
        ASSERT_NE(m_hLibrary, nullptr) << "matrixskin.dll is not beside the test";
        m_pfnLoadSkin = reinterpret_cast<LoadSkinProc>(reinterpret_cast<void (*)()>(::GetProcAddress(m_hLibrary, "LoadSkin")));
        m_pfnExitSkin = reinterpret_cast<ExitSkinProc>(reinterpret_cast<void (*)()>(::GetProcAddress(m_hLibrary, "ExitSkin")));
        ASSERT_NE(m_pfnLoadSkin, nullptr);
        ASSERT_NE(m_pfnExitSkin, nullptr);

        // The skin start-up uses, unpacked as start-up unpacks it, in a folder named in Chinese.
        m_folder = std::filesystem::temp_directory_path() / (L"皮膚-" + std::to_wstring(::GetCurrentProcessId()));
        std::filesystem::create_directories(m_folder);
        const std::string strName = ExtractSkinFile(SKIN_ENTRY, WideToUtf8(m_folder.wstring()));
        ASSERT_FALSE(strName.empty());
        m_strSkinFile = WideToUtf8((m_folder / Utf8ToWide(strName)).wstring());
        ASSERT_TRUE(ParseSkinPalette(ReadFileText(m_folder / Utf8ToWide(strName)), &m_palette));
    }
    void TearDown() override
    {
        if (m_pfnExitSkin != nullptr)
            m_pfnExitSkin();
        if (m_hLibrary != nullptr)
            ::FreeLibrary(m_hLibrary);
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }

    HMODULE m_hLibrary = nullptr;
    LoadSkinProc m_pfnLoadSkin = nullptr;
    ExitSkinProc m_pfnExitSkin = nullptr;
    std::filesystem::path m_folder;
    std::string m_strSkinFile;
    CSkinPalette m_palette;
};

} // namespace

TEST_F(SkinLibrary, DrawsTheControlsInTheSkin)
{
    ASSERT_EQ(m_pfnLoadSkin(m_strSkinFile.c_str(), 0), 0);
    CTestDialog dlg;
    ASSERT_NE(dlg.m_hWnd, nullptr);
    EXPECT_EQ(BrushColour(::SendMessageW(dlg.m_hWnd, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(dlg.m_hWnd))),
              ToRgb(m_palette.m_clrWindow));
    EXPECT_EQ(Picture(dlg.m_hWnd).Dominant(), ToRgb(m_palette.m_clrWindow)) << "the dialog's background";

    ::SetFocus(dlg.m_hEdit);
    const CPicture rest = Picture(dlg.m_hButton);
    EXPECT_EQ(rest.Dominant(), ToRgb(m_palette.m_clrButton)) << "a button at rest";
    EXPECT_EQ(Picture(dlg.m_hDefault).Dominant(), ToRgb(m_palette.m_clrAccent)) << "the default button";

    ::SetFocus(dlg.m_hButton);
    const CPicture focused = Picture(dlg.m_hButton);
    const int nPerimeter = 2 * (rest.m_nWidth + rest.m_nHeight);
    EXPECT_GE(focused.Differences(rest), nPerimeter) << "the focus ring is not visible";
    EXPECT_GE(focused.Count({0, 0, focused.m_nWidth, focused.m_nHeight}, ToRgb(m_palette.m_clrText)), nPerimeter);

    ::SendMessageW(dlg.m_hButton, BM_SETSTATE, TRUE, 0);
    EXPECT_EQ(Picture(dlg.m_hButton).Dominant(), ToRgb(m_palette.m_clrPressed)) << "a pressed button";
    ::SendMessageW(dlg.m_hButton, BM_SETSTATE, FALSE, 0);

    ::EnableWindow(dlg.m_hDefault, FALSE);
    const CPicture disabled = Picture(dlg.m_hDefault);
    EXPECT_EQ(disabled.Dominant(), ToRgb(m_palette.m_clrWindow)) << "a disabled button stays flat on the window";
    EXPECT_EQ(disabled.Count({0, 0, disabled.m_nWidth, disabled.m_nHeight}, ToRgb(m_palette.m_clrAccentText)), 0)
        << "a disabled default button still has its live text colour";

    const CPicture bar = Picture(dlg.m_hProgress);
    EXPECT_EQ(bar.Dominant({0, 0, bar.m_nWidth / 3, bar.m_nHeight}), ToRgb(m_palette.m_clrAccent)) << "the bar's fill";
    EXPECT_EQ(bar.Dominant({bar.m_nWidth * 2 / 3, 0, bar.m_nWidth, bar.m_nHeight}), ToRgb(m_palette.m_clrBase))
        << "the bar's track";

    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(::GetComboBoxInfo(dlg.m_hCombo, &info));
    const CPicture combo = Picture(dlg.m_hCombo);
    EXPECT_EQ(combo.Dominant(info.rcButton), ToRgb(m_palette.m_clrBase)) << "the drop-down's button";
    EXPECT_GE(combo.Count(info.rcButton, ToRgb(m_palette.m_clrText)), 8) << "the drop-down's arrow";

    const CPicture group = Picture(dlg.m_hGroup);
    EXPECT_GE(group.Count({0, 0, group.m_nWidth, group.m_nHeight}, ToRgb(m_palette.m_clrBorder)), group.m_nWidth)
        << "the group box's frame";
    EXPECT_EQ(BrushColour(::SendMessageW(dlg.m_hWnd, WM_CTLCOLOREDIT, 0, reinterpret_cast<LPARAM>(dlg.m_hEdit))),
              ToRgb(m_palette.m_clrBase));
}

TEST_F(SkinLibrary, MessageBoxesAreSkinnedToo)
{
    ASSERT_EQ(m_pfnLoadSkin(m_strSkinFile.c_str(), 0), 0);
    static COLORREF s_clrBox;
    static COLORREF s_clrButton;
    s_clrBox = s_clrButton = CLR_INVALID;
    // Looks at the box from inside its own modal loop, then presses its button.
    const UINT_PTR nTimer = ::SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR nId, DWORD) {
        HWND hBox = nullptr;
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND hWnd, LPARAM lParam) -> BOOL {
                wchar_t szTitle[32] = {};
                ::GetWindowTextW(hWnd, szTitle, 32);
                if (std::wstring(szTitle) == L"skin test box")
                    *reinterpret_cast<HWND*>(lParam) = hWnd;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&hBox));
        if (hBox == nullptr)
            return;
        ::KillTimer(nullptr, nId);
        s_clrBox = BrushColour(::SendMessageW(hBox, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(hBox)));
        if (HWND hOk = ::GetDlgItem(hBox, IDOK))
            s_clrButton = Picture(hOk).Dominant();
        ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
    });
    ASSERT_NE(nTimer, 0u);
    ::MessageBoxW(nullptr, L"請按住機器del鍵3秒後放開", L"skin test box", MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(s_clrBox, ToRgb(m_palette.m_clrWindow));
    // The box's only button is its default one.
    EXPECT_EQ(s_clrButton, ToRgb(m_palette.m_clrAccent));
}

TEST_F(SkinLibrary, ExitGivesEverythingBack)
{
    // A first round fills the system's own caches (window DCs, fonts), which stay.
    {
        ASSERT_EQ(m_pfnLoadSkin(m_strSkinFile.c_str(), 0), 0);
        CTestDialog dlg;
        (void)Picture(dlg.m_hProgress);
    }
    ASSERT_EQ(m_pfnExitSkin(), 0);
    {
        CTestDialog dlg;
    }

    const size_t nBefore = CountGdiObjects();
    ASSERT_GT(nBefore, 0u);
    {
        // The count must see a single brush, or it could not see a leak either.
        CBrush brush(::CreateSolidBrush(RGB(1, 2, 3)));
        ASSERT_EQ(CountGdiObjects(), nBefore + 1);
    }
    ASSERT_EQ(m_pfnLoadSkin(m_strSkinFile.c_str(), 0), 0);
    // Loading twice replaces the first skin; its objects must go too.
    ASSERT_EQ(m_pfnLoadSkin(m_strSkinFile.c_str(), 0), 0);
    {
        CTestDialog dlg;
        ::SetFocus(dlg.m_hCombo);
        for (HWND hWnd : {dlg.m_hWnd, dlg.m_hButton, dlg.m_hDefault, dlg.m_hGroup, dlg.m_hCombo, dlg.m_hProgress})
            (void)Picture(hWnd);
        ::RedrawWindow(dlg.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump();
    }
    ASSERT_EQ(m_pfnExitSkin(), 0);
    EXPECT_EQ(CountGdiObjects(), nBefore) << "GDI objects left behind by the skin";

    // A dialog still open when the skin goes is left with the ordinary look.
    ASSERT_EQ(m_pfnLoadSkin(m_strSkinFile.c_str(), 0), 0);
    CTestDialog live;
    ASSERT_EQ(m_pfnExitSkin(), 0);
    EXPECT_EQ(BrushColour(::SendMessageW(live.m_hWnd, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(live.m_hWnd))),
              ::GetSysColor(COLOR_BTNFACE))
        << "the open dialog kept the skin";

    // Made after the exit: the ordinary look.
    {
        CTestDialog dlg;
        EXPECT_EQ(BrushColour(::SendMessageW(dlg.m_hWnd, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(dlg.m_hWnd))),
                  ::GetSysColor(COLOR_BTNFACE));
        EXPECT_NE(Picture(dlg.m_hButton).Dominant(), ToRgb(m_palette.m_clrButton));
        EXPECT_NE(Picture(dlg.m_hProgress).Dominant(), ToRgb(m_palette.m_clrBase));
    }

    // Released: a hook or subclass left behind would now call into nothing.
    const void* pLibraryBase = m_hLibrary;
    ::FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
    m_pfnExitSkin = nullptr;
    EXPECT_EQ(::GetModuleHandleW(L"matrixskin.dll"), nullptr) << "something still holds the library";
    g_nAccessViolations = 0;
    void* pHandler = ::AddVectoredExceptionHandler(1, &CountAccessViolations);
    {
        CTestDialog after;
        for (HWND hWnd : {after.m_hWnd, live.m_hWnd}) {
            ::RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
            ::SetFocus(::GetWindow(hWnd, GW_CHILD));
        }
        Pump();
        EXPECT_NE(after.m_hWnd, nullptr);
    }
    ::RemoveVectoredExceptionHandler(pHandler);
    EXPECT_EQ(g_nAccessViolations, 0) << "a hook or subclass of the released library was called (at "
                                      << g_pFaultAddress << ", the library was at " << pLibraryBase << ")";
}

TEST_F(SkinLibrary, RefusedFilesLeaveTheOrdinaryLook)
{
    const std::filesystem::path bad = m_folder / L"bad.qss";
    const struct {
        const char* pszCase;
        std::string strPath;
        std::string strContent; // written to bad.qss when the path names it
    } aCases[] = {
        {"no such file", WideToUtf8((m_folder / L"missing.qss").wstring()), ""},
        {"a folder", WideToUtf8(m_folder.wstring()), ""},
        {"an empty path", "", ""},
        {"a damaged skin", WideToUtf8(bad.wstring()), "QWidget { background-color: #fff; \n"},
        {"another program's style sheet", WideToUtf8(bad.wstring()), "body { color: #333; }\n"},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        if (!c.strContent.empty())
            std::ofstream(bad, std::ios::binary) << c.strContent;
        EXPECT_NE(m_pfnLoadSkin(c.strPath.c_str(), 0), 0);
        CTestDialog dlg;
        EXPECT_EQ(BrushColour(::SendMessageW(dlg.m_hWnd, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(dlg.m_hWnd))),
                  ::GetSysColor(COLOR_BTNFACE));
    }
}
