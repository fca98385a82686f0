#include "ui/win32/update_dlg.h"

#include <climits>
#include <vector>

#include "app/matrix_app.h"
#include "app/update_dlg_template.h"
#include "serial/serial_link.h"
#include "transfer/record_transfer.h"
#include "ui/win32/dialog_placement.h"
#include "ui/win32/win32_api.h"
// Last: it brings in <windows.h> its own way.
#include "platform/win32/wide_string.h"

namespace {

const wchar_t* const APP_CAPTION = L"matrix-update";
constexpr UINT_PTR BANNER_TIMER = 1;
constexpr UINT BANNER_TIMER_MS = 500;

// "COMn" in any letter case, or the bare number n, for n from 1 to 255; 0 otherwise.
int ParseTypedPort(const std::string& strText)
{
    size_t nStart = 0;
    if (strText.size() > 3 && (strText[0] | 0x20) == 'c' && (strText[1] | 0x20) == 'o' && (strText[2] | 0x20) == 'm')
        nStart = 3;
    if (nStart >= strText.size() || strText.size() - nStart > 3 || strText[nStart] == '0')
        return 0;
    int nPort = 0;
    for (size_t i = nStart; i < strText.size(); ++i) {
        if (strText[i] < '0' || strText[i] > '9')
            return 0;
        nPort = nPort * 10 + (strText[i] - '0');
    }
    return nPort <= 255 ? nPort : 0;
}

std::string Trimmed(const std::string& str)
{
    const size_t nFirst = str.find_first_not_of(" \t");
    if (nFirst == std::string::npos)
        return std::string();
    return str.substr(nFirst, str.find_last_not_of(" \t") - nFirst + 1);
}

// The folder part of a Windows path ("" when it has none).
std::wstring FolderOf(const std::wstring& strPath)
{
    const size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash);
}

// A path longer than the field shows its end, where the file's own name is: the caret goes to
// the end and the field scrolls to it.
void ShowEndOfText(HWND hEdit)
{
    const int nLength = ::GetWindowTextLengthW(hEdit);
    ::SendMessageW(hEdit, EM_SETSEL, static_cast<WPARAM>(nLength), static_cast<LPARAM>(nLength));
    ::SendMessageW(hEdit, EM_SCROLLCARET, 0, 0);
}

bool IsFolder(const std::wstring& strPath)
{
    if (strPath.empty())
        return false;
    const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

CWin32LinkOwner::~CWin32LinkOwner()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (CLinkMessage& msg : m_messages) {
        if (msg.pCompletion)
            msg.pCompletion->Abandon();
    }
}

void CWin32LinkOwner::PostLinkMessage(CLinkMessage msg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(std::move(msg));
    ::PostMessageW(m_hTarget, WM_APP_LINK_MESSAGE, 0, 0);
}

void CWin32LinkOwner::ShowPortError(const std::string& strText, const std::string& strCaption)
{
    // Queued, so that the monitor thread never waits for a person to read the box.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_errors.emplace_back(strText, strCaption);
    ::PostMessageW(m_hTarget, WM_APP_PORT_ERROR, 0, 0);
}

bool CWin32LinkOwner::TakeMessage(CLinkMessage* pMsg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_messages.empty())
        return false;
    *pMsg = std::move(m_messages.front());
    m_messages.pop_front();
    return true;
}

bool CWin32LinkOwner::TakePortError(std::string* pstrText, std::string* pstrCaption)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_errors.empty())
        return false;
    *pstrText = std::move(m_errors.front().first);
    *pstrCaption = std::move(m_errors.front().second);
    m_errors.pop_front();
    return true;
}

void DispatchDialogMessage(HWND hDialog, MSG& msg)
{
    if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) &&
        (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE) && hDialog != nullptr &&
        (msg.hwnd == hDialog || ::IsChild(hDialog, msg.hwnd)))
        msg.wParam = 0;
    if (hDialog != nullptr && ::IsDialogMessageW(hDialog, &msg))
        return;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

bool CWin32MessagePump::WaitAndDispatch(uint32_t nMaxWaitMs, int* pnQuitCode)
{
    MSG msg;
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
        ::MsgWaitForMultipleObjectsEx(0, nullptr, nMaxWaitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            if (pnQuitCode != nullptr)
                *pnQuitCode = static_cast<int>(msg.wParam);
            return false;
        }
        DispatchDialogMessage(m_hDialog, msg);
    }
    return true;
}

void CWin32ProgressBar::SetRange(uint64_t nMin, uint64_t nMax)
{
    m_nShift = 0;
    while ((nMax >> m_nShift) > static_cast<uint64_t>(INT_MAX))
        ++m_nShift;
    ::SendMessageW(m_hBar, PBM_SETRANGE32, static_cast<WPARAM>(Scale(nMin)), static_cast<LPARAM>(Scale(nMax)));
}

void CWin32ProgressBar::SetPos(uint64_t nPos)
{
    ::SendMessageW(m_hBar, PBM_SETPOS, static_cast<WPARAM>(Scale(nPos)), 0);
}

int CWin32ProgressBar::Scale(uint64_t nValue) const
{
    return static_cast<int>(std::min<uint64_t>(nValue >> m_nShift, INT_MAX));
}

CUpdateDlg::CUpdateDlg(CMatrixApp& app) : m_app(app) {}

CUpdateDlg::~CUpdateDlg()
{
    // The link outlives the dialog (start-up destroys it); it must not post to us any more.
    if (g_pSerialLink != nullptr)
        g_pSerialLink->SetOwner(nullptr);
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
}

int CUpdateDlg::DoModal()
{
    m_bEnded = false;
    m_hWnd = CreateDialogOnStartMonitor(IDD_UPDATE_DIALOG, &CUpdateDlg::DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_hWnd == nullptr)
        return -1;
    // Before the window shows: its taskbar button is made then, and says so.
    m_pTaskbar = std::make_unique<CTaskbarProgress>(m_hWnd);
    ::ShowWindow(m_hWnd, SW_SHOW);
    ::SetForegroundWindow(m_hWnd);
    // The FILE of the command line: the preview opens beside the dialog now that it has its place.
    if (m_bPreviewPending)
        OpenPreview(false);
    MSG msg;
    while (!m_bEnded) {
        const BOOL bResult = ::GetMessageW(&msg, nullptr, 0, 0);
        if (bResult == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (bResult == -1)
            break;
        DispatchDialogMessage(m_hWnd, msg);
    }
    ::KillTimer(m_hWnd, BANNER_TIMER);
    m_preview.Hide();
    ::RemoveWindowSubclass(::GetDlgItem(m_hWnd, IDC_FILE_NAME), &CUpdateDlg::FileFieldProc, 1);
    m_pTaskbar.reset();
    ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    return m_nResult;
}

INT_PTR CALLBACK CUpdateDlg::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    if (nMsg == WM_INITDIALOG) {
        auto* pThis = reinterpret_cast<CUpdateDlg*>(lParam);
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        pThis->m_hWnd = hWnd;
        pThis->OnInitDialog();
        return TRUE;
    }
    auto* pThis = reinterpret_cast<CUpdateDlg*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    return pThis != nullptr ? pThis->OnMessage(nMsg, wParam) : FALSE;
}

INT_PTR CUpdateDlg::OnMessage(UINT nMsg, WPARAM wParam)
{
    if (nMsg == CTaskbarProgress::GetButtonCreatedMessage() && m_pTaskbar) {
        m_pTaskbar->OnButtonCreated();
        return TRUE;
    }
    switch (nMsg) {
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_CLOSE:
        OnCloseRequest();
        return TRUE;
    case WM_QUERYENDSESSION:
        // Logging off: an update running is cancelled (its end byte sent) before the end.
        OnCloseRequest();
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        ::BeginPaint(m_hWnd, &ps);
        ::EndPaint(m_hWnd, &ps);
        DrawBanner();
        return TRUE;
    }
    case WM_TIMER:
        DrawBanner();
        PollPreview();
        return TRUE;
    case WM_APP_LINK_MESSAGE:
        TakeLinkMessages();
        return TRUE;
    case WM_APP_PORT_ERROR:
        TakePortErrors();
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CUpdateDlg::OnCommand(UINT nId, UINT nCode)
{
    switch (nId) {
    case IDC_START_UPDATE:
        if (nCode == BN_CLICKED)
            OnStartUpdate();
        return TRUE;
    case IDC_CHOOSE_FILE:
        if (nCode == BN_CLICKED)
            OnChooseFile();
        return TRUE;
    case IDC_EXIT:
        if (nCode == BN_CLICKED)
            OnExit();
        return TRUE;
    case IDC_PORT_COMBO:
        // A fresh list each time it opens, so an adapter plugged in after start-up appears.
        if (nCode == CBN_DROPDOWN) {
            int32_t nPort = 0;
            std::string strTyped;
            FillPortCombo(TakePortChoice(&nPort, &strTyped) ? static_cast<uint32_t>(nPort) : 0);
        }
        return TRUE;
    case IDOK:
    case IDCANCEL:
        // Enter and Escape never end the dialog; only 離開 does.
        return TRUE;
    default:
        return FALSE;
    }
}

void CUpdateDlg::SetFileName(const std::string& strFileName)
{
    m_strFileName = strFileName;
    if (m_hWnd != nullptr)
        ::SetDlgItemTextW(m_hWnd, IDC_FILE_NAME, Utf8ToWide(strFileName).c_str());
    OnFileChosen();
}

void CUpdateDlg::OnFileChosen()
{
    // A file chosen is a file the operator wants to see; one who closed the preview has said
    // otherwise, until they open it again from the file field's menu.
    if (m_preview.WasDismissed())
        return;
    // Placed beside the dialog once the dialog is on the screen; read once no update runs, so
    // that reading a file never holds up the replies of one.
    if (m_hWnd == nullptr || !::IsWindowVisible(m_hWnd) || m_controller.IsUpdating()) {
        m_bPreviewPending = true;
        return;
    }
    OpenPreview(false);
}

void CUpdateDlg::OpenPreview(bool bAsked)
{
    m_bPreviewPending = false;
    const std::string strPath = Trimmed(GetDlgItemText(IDC_FILE_NAME));
    if (m_preview.Open(m_hWnd, LoadPreviewContents(strPath), bAsked))
        m_previewWatch.Shown(strPath);
}

void CUpdateDlg::PollPreview()
{
    // The preview follows the file field and the file itself, between updates.
    if (m_controller.IsUpdating() || !::IsWindowVisible(m_hWnd))
        return;
    if (m_bPreviewPending) {
        OpenPreview(false);
        return;
    }
    const std::string strPath = Trimmed(GetDlgItemText(IDC_FILE_NAME));
    if (m_preview.IsOpen() && m_previewWatch.Poll(strPath)) {
        m_preview.ShowContents(LoadPreviewContents(strPath));
        m_previewWatch.Shown(strPath);
    }
}

LRESULT CALLBACK CUpdateDlg::FileFieldProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR dwThis)
{
    if (nMsg == WM_CONTEXTMENU) {
        reinterpret_cast<CUpdateDlg*>(dwThis)->ShowFileFieldMenu(hWnd, lParam);
        return 0;
    }
    return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
}

void CUpdateDlg::ShowFileFieldMenu(HWND hEdit, LPARAM lParam)
{
    // The edit field's own commands, and the preview after them.
    enum : UINT { CMD_UNDO = 1, CMD_CUT, CMD_COPY, CMD_PASTE, CMD_DELETE, CMD_SELECT_ALL, CMD_PREVIEW };
    DWORD dwStart = 0;
    DWORD dwEnd = 0;
    ::SendMessageW(hEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&dwStart), reinterpret_cast<LPARAM>(&dwEnd));
    const UINT nSelected = dwStart != dwEnd ? MF_ENABLED : MF_GRAYED;
    const HMENU hMenu = ::CreatePopupMenu();
    if (hMenu == nullptr)
        return;
    ::AppendMenuW(hMenu, ::SendMessageW(hEdit, EM_CANUNDO, 0, 0) ? MF_ENABLED : MF_GRAYED, CMD_UNDO, L"復原(&U)");
    ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(hMenu, nSelected, CMD_CUT, L"剪下(&T)");
    ::AppendMenuW(hMenu, nSelected, CMD_COPY, L"複製(&C)");
    ::AppendMenuW(hMenu, ::IsClipboardFormatAvailable(CF_UNICODETEXT) ? MF_ENABLED : MF_GRAYED, CMD_PASTE, L"貼上(&P)");
    ::AppendMenuW(hMenu, nSelected, CMD_DELETE, L"刪除(&D)");
    ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(hMenu, MF_ENABLED, CMD_SELECT_ALL, L"全選(&A)");
    ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    // The preview is read between updates only.
    ::AppendMenuW(hMenu, m_controller.IsUpdating() ? MF_GRAYED : MF_ENABLED, CMD_PREVIEW, L"預覽圖樣(&V)");
    POINT at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (lParam == -1) {
        // From the keyboard (Shift+F10, the menu key): under the field's left end.
        RECT rc;
        ::GetWindowRect(hEdit, &rc);
        at = POINT{rc.left, rc.bottom};
    }
    ::SetFocus(hEdit);
    const UINT nCommand = static_cast<UINT>(
        ::TrackPopupMenu(hMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, m_hWnd, nullptr));
    ::DestroyMenu(hMenu);
    switch (nCommand) {
    case CMD_UNDO: ::SendMessageW(hEdit, WM_UNDO, 0, 0); break;
    case CMD_CUT: ::SendMessageW(hEdit, WM_CUT, 0, 0); break;
    case CMD_COPY: ::SendMessageW(hEdit, WM_COPY, 0, 0); break;
    case CMD_PASTE: ::SendMessageW(hEdit, WM_PASTE, 0, 0); break;
    case CMD_DELETE: ::SendMessageW(hEdit, WM_CLEAR, 0, 0); break;
    case CMD_SELECT_ALL: ::SendMessageW(hEdit, EM_SETSEL, 0, -1); break;
    case CMD_PREVIEW: OpenPreview(true); break;
    default: break;
    }
}

void CUpdateDlg::OnInitDialog()
{
    m_icon.Attach(m_hWnd);
    if (!m_strFileName.empty())
        ::SetDlgItemTextW(m_hWnd, IDC_FILE_NAME, Utf8ToWide(m_strFileName).c_str());
    FillPortCombo(static_cast<uint32_t>(m_app.m_nComPort));
    ::SetWindowSubclass(::GetDlgItem(m_hWnd, IDC_FILE_NAME), &CUpdateDlg::FileFieldProc, 1,
                        reinterpret_cast<DWORD_PTR>(this));
    m_banner.Load();
    ::SetTimer(m_hWnd, BANNER_TIMER, BANNER_TIMER_MS, nullptr);
}

void CUpdateDlg::DrawBanner()
{
    if (m_banner.IsEmpty())
        return;
    HWND hFrame = ::GetDlgItem(m_hWnd, IDC_PICTURE);
    // The frame paints itself white first; the picture goes over it.
    ::UpdateWindow(hFrame);
    RECT rc;
    ::GetClientRect(hFrame, &rc);
    if (HDC hDC = ::GetDC(hFrame)) {
        m_banner.Draw(hDC, rc.right, rc.bottom);
        ::ReleaseDC(hFrame, hDC);
    }
}

void CUpdateDlg::FillPortCombo(uint32_t nSelectPort)
{
    HWND hCombo = ::GetDlgItem(m_hWnd, IDC_PORT_COMBO);
    const std::string strTyped = GetDlgItemText(IDC_PORT_COMBO);
    EnumerateComPorts(m_aPorts);
    ::SendMessageW(hCombo, CB_RESETCONTENT, 0, 0);
    int nSelect = m_aPorts.GetSize() > 0 ? 0 : -1;
    for (size_t i = 0; i < m_aPorts.GetSize(); ++i) {
        const std::wstring strName = L"COM" + std::to_wstring(m_aPorts[i]);
        ::SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(strName.c_str()));
        if (m_aPorts[i] == nSelectPort)
            nSelect = static_cast<int>(i);
    }
    ::SendMessageW(hCombo, CB_SETCURSEL, static_cast<WPARAM>(nSelect), 0);
    if (nSelect < 0 || (nSelectPort == 0 && !strTyped.empty()))
        ::SetDlgItemTextW(m_hWnd, IDC_PORT_COMBO, Utf8ToWide(strTyped).c_str());
}

std::string CUpdateDlg::GetDlgItemText(int nId) const
{
    HWND hItem = ::GetDlgItem(m_hWnd, nId);
    const int nLength = ::GetWindowTextLengthW(hItem);
    std::wstring str(static_cast<size_t>(std::max(nLength, 0)) + 1, L'\0');
    const int nCopied = ::GetWindowTextW(hItem, str.data(), static_cast<int>(str.size()));
    str.resize(static_cast<size_t>(std::max(nCopied, 0)));
    return WideToUtf8(str);
}

void CUpdateDlg::TakeLinkMessages()
{
    if (!m_pLinkOwner)
        return;
    CLinkMessage msg;
    while (m_pLinkOwner && m_pLinkOwner->TakeMessage(&msg)) {
        m_controller.DispatchLinkMessage(msg);
        if (msg.pCompletion)
            msg.pCompletion->Complete(0);
    }
}

void CUpdateDlg::TakePortErrors()
{
    std::string strText;
    std::string strCaption;
    while (m_pLinkOwner && m_pLinkOwner->TakePortError(&strText, &strCaption)) {
        // The engine's own error box: no owner window, stop icon.
        ::MessageBoxW(nullptr, Utf8ToWide(strText).c_str(), Utf8ToWide(strCaption).c_str(), MB_OK | MB_ICONERROR);
    }
}

void CUpdateDlg::OnStartUpdate()
{
    m_controller.OnStartUpdate();
}

std::string CUpdateDlg::GetFileFieldText()
{
    return GetDlgItemText(IDC_FILE_NAME);
}

bool CUpdateDlg::TakePortChoice(int32_t* pnPort, std::string* pstrTyped)
{
    *pstrTyped = Trimmed(GetDlgItemText(IDC_PORT_COMBO));
    // The selected entry, unless the operator has typed over it; else a typed "COMn" or n.
    const LRESULT nIndex = ::SendDlgItemMessageW(m_hWnd, IDC_PORT_COMBO, CB_GETCURSEL, 0, 0);
    int nPort = 0;
    if (nIndex >= 0 && static_cast<size_t>(nIndex) < m_aPorts.GetSize() &&
        ParseTypedPort(*pstrTyped) == static_cast<int>(m_aPorts[static_cast<size_t>(nIndex)]))
        nPort = static_cast<int>(m_aPorts[static_cast<size_t>(nIndex)]);
    else
        nPort = ParseTypedPort(*pstrTyped);
    if (nPort <= 0)
        return false;
    *pnPort = nPort;
    return true;
}

uint32_t CUpdateDlg::GetDoubleClickTime() const
{
    return ::GetDoubleClickTime();
}

void CUpdateDlg::SetCaption(const std::string& strText)
{
    ::SetWindowTextW(m_hWnd, Utf8ToWide(strText).c_str());
}

void CUpdateDlg::ClearProgressBar()
{
    HWND hBar = ::GetDlgItem(m_hWnd, IDC_PROGRESS);
    ::SendMessageW(hBar, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(hBar, PBM_SETPOS, 0, 0);
}

void CUpdateDlg::ShowBox(const std::string& strText, EBoxIcon eIcon)
{
    const UINT nIcon = eIcon == EBoxIcon::Warning ? MB_ICONWARNING : MB_ICONINFORMATION;
    ::MessageBoxW(m_hWnd, Utf8ToWide(strText).c_str(), APP_CAPTION, MB_OK | nIcon);
}

ILinkOwner* CUpdateDlg::ReplaceLinkOwner()
{
    m_pLinkOwner = std::make_unique<CWin32LinkOwner>(m_hWnd);
    return m_pLinkOwner.get();
}

void CUpdateDlg::ShowUpdating(bool bUpdating)
{
    if (!bUpdating && m_pTaskbar)
        m_pTaskbar->Clear();
    const char* pszText = bUpdating ? TEXT_CANCEL_UPDATE : FindUpdateDlgControl(IDC_START_UPDATE)->pszText;
    ::SetDlgItemTextW(m_hWnd, IDC_START_UPDATE, Utf8ToWide(pszText).c_str());
}

CTransferOutcome CUpdateDlg::ServeTransfer(const TransferRun& fnTransfer)
{
    CWin32ProgressBar bar(::GetDlgItem(m_hWnd, IDC_PROGRESS));
    CTaskbarMirroredBar progress(&bar, m_pTaskbar.get());
    CWin32MessagePump pump(m_hWnd);
    const CTransferOutcome outcome = fnTransfer(&progress, &pump);
    // The taskbar button shows what went wrong until the operator has read the ending box.
    if (m_pTaskbar && (outcome.bLinkLost || outcome.nUnanswered > 0))
        m_pTaskbar->ShowError();
    return outcome;
}

void CUpdateDlg::CloseDialog()
{
    EndDialog(IDOK);
}

void CUpdateDlg::ShowHint(const std::string& strText)
{
    // A balloon at the file field: it holds nothing up and goes away when clicked or after a while.
    const std::wstring strWide = Utf8ToWide(strText);
    const std::wstring strTitle = Utf8ToWide(UPDATE_DLG_TEMPLATE.pszCaption);
    EDITBALLOONTIP tip = {sizeof tip, strTitle.c_str(), strWide.c_str(), TTI_WARNING};
    ::SendDlgItemMessageW(m_hWnd, IDC_FILE_NAME, EM_SHOWBALLOONTIP, 0, reinterpret_cast<LPARAM>(&tip));
}

void CUpdateDlg::EndDialog(int nResult)
{
    m_nResult = nResult;
    m_bEnded = true;
    // Wakes the dialog's loop, which may be waiting for a message.
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

void CUpdateDlg::OnChooseFile()
{
    // Open where the operator's files are: the folder of the file named in the field, else
    // the last folder used, else the documents folder; never the program's own folder.
    const std::wstring strCurrent = Utf8ToWide(Trimmed(GetDlgItemText(IDC_FILE_NAME)));
    std::wstring strFolder = FolderOf(strCurrent);
    if (!IsFolder(strFolder)) {
        const std::wstring strLast = Utf8ToWide(m_app.m_strLastFolder);
        strFolder = IsFolder(strLast) ? strLast : std::wstring();
    }
    if (strFolder.empty()) {
        wchar_t szDocuments[MAX_PATH] = {};
        if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, szDocuments)))
            strFolder = szDocuments;
    }
    // The current name without its folder as the initial name, in a buffer long enough for
    // any path the dialog may return.
    std::wstring strBuffer(32768, L'\0');
    const size_t nSlash = strCurrent.find_last_of(L"\\/");
    const std::wstring strName = nSlash == std::wstring::npos ? strCurrent : strCurrent.substr(nSlash + 1);
    strName.copy(strBuffer.data(), std::min(strName.size(), strBuffer.size() - 1));

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hWnd;
    // One entry labelled *.bin whose pattern lists every file.
    ofn.lpstrFilter = L"*.bin\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = strBuffer.data();
    ofn.nMaxFile = static_cast<DWORD>(strBuffer.size());
    ofn.lpstrInitialDir = strFolder.empty() ? nullptr : strFolder.c_str();
    ofn.lpstrDefExt = L"bin";
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&ofn))
        return;
    const std::wstring strChosen(strBuffer.c_str());
    ::SetDlgItemTextW(m_hWnd, IDC_FILE_NAME, strChosen.c_str());
    ShowEndOfText(::GetDlgItem(m_hWnd, IDC_FILE_NAME));
    // Kept in setting.ini with the port, so the next start opens here too.
    m_app.m_strLastFolder = WideToUtf8(FolderOf(strChosen));
    OnFileChosen();
}

void CUpdateDlg::OnExit()
{
    if (m_controller.RequestClose())
        EndDialog(IDOK);
}

void CUpdateDlg::OnCloseRequest()
{
    // Closed from outside during an update: it is cancelled first, and the controller closes
    // the dialog once the transfer has sent its end byte.
    OnExit();
}
