#include "ui/win32/taskbar_progress.h"

#include <shobjidl.h>

CTaskbarProgress::CTaskbarProgress(HWND hWnd) : m_hWnd(hWnd)
{
    // The dialog's thread becomes a single-threaded apartment, as the shell's objects want it
    // (its file dialog too). Already being one is as good, and is balanced the same way.
    m_bComReady = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
}

CTaskbarProgress::~CTaskbarProgress()
{
    if (m_pList != nullptr)
        m_pList->Release();
    if (m_bComReady)
        ::CoUninitialize();
}

UINT CTaskbarProgress::GetButtonCreatedMessage()
{
    static const UINT nMessage = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    return nMessage;
}

void CTaskbarProgress::OnButtonCreated()
{
    // A new taskbar knows nothing of the old one's bar.
    if (m_pList != nullptr) {
        m_pList->Release();
        m_pList = nullptr;
    }
    m_bStateShown = false;
    if (Connect())
        Apply();
}

void CTaskbarProgress::ShowProgress(uint64_t nPos, uint64_t nMax)
{
    m_eState = EState::Normal;
    m_nPos = nPos;
    m_nMax = nMax;
    if (Connect())
        Apply();
}

void CTaskbarProgress::ShowError()
{
    m_eState = EState::Error;
    if (Connect())
        Apply();
}

void CTaskbarProgress::Clear()
{
    m_eState = EState::None;
    // Nothing was shown without the list: nothing to take away.
    if (m_pList != nullptr)
        Apply();
}

bool CTaskbarProgress::Connect()
{
    if (m_pList != nullptr)
        return true;
    if (!m_bComReady)
        return false;
    ITaskbarList3* pList = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                  reinterpret_cast<void**>(&pList))))
        return false;
    if (FAILED(pList->HrInit())) {
        pList->Release();
        return false;
    }
    m_pList = pList;
    return true;
}

void CTaskbarProgress::Apply()
{
    // The state is told when it changes, the value with each record. A failing call changes
    // nothing that matters: the button shows less, the update goes on.
    if (!m_bStateShown || m_eShownState != m_eState) {
        const TBPFLAG eFlag = m_eState == EState::Normal ? TBPF_NORMAL
                              : m_eState == EState::Error ? TBPF_ERROR
                                                          : TBPF_NOPROGRESS;
        (void)m_pList->SetProgressState(m_hWnd, eFlag);
        m_eShownState = m_eState;
        m_bStateShown = true;
    }
    // An error bar stays as far as the update got, in the error colour.
    if (m_eState != EState::None)
        (void)m_pList->SetProgressValue(m_hWnd, m_nPos, m_nMax);
}

void CTaskbarMirroredBar::SetRange(uint64_t nMin, uint64_t nMax)
{
    m_pBar->SetRange(nMin, nMax);
    m_nMin = nMin;
    m_nMax = nMax > nMin ? nMax : nMin;
    if (m_pTaskbar != nullptr)
        m_pTaskbar->ShowProgress(0, m_nMax - m_nMin);
}

void CTaskbarMirroredBar::SetPos(uint64_t nPos)
{
    m_pBar->SetPos(nPos);
    const uint64_t nDone = nPos < m_nMin ? 0 : (nPos > m_nMax ? m_nMax : nPos) - m_nMin;
    if (m_pTaskbar != nullptr)
        m_pTaskbar->ShowProgress(nDone, m_nMax - m_nMin);
}
