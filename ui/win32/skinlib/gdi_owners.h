#pragma once
// Owners of the GDI objects and device contexts the skin library uses. Every brush, pen, bitmap
// and DC it makes is released by one of these, so that unloading the skin leaves the process
// with exactly the GDI objects it had before.

#include <windows.h>

#include <utility>

// A pen, brush, bitmap or region: deleted when the owner goes.
template <typename THandle>
class CGdiObject {
public:
    CGdiObject() = default;
    explicit CGdiObject(THandle h) : m_h(h) {}
    ~CGdiObject() { Reset(); }
    CGdiObject(CGdiObject&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    CGdiObject& operator=(CGdiObject&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_h = std::exchange(other.m_h, nullptr);
        }
        return *this;
    }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    THandle Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Reset()
    {
        if (m_h != nullptr)
            ::DeleteObject(m_h);
        m_h = nullptr;
    }

private:
    THandle m_h = nullptr;
};

using CBrush = CGdiObject<HBRUSH>;
using CPen = CGdiObject<HPEN>;
using CBitmap = CGdiObject<HBITMAP>;

// An object selected into a DC for a while: the DC's previous one comes back at the end, so the
// owner of the object can delete it.
class CSelection {
public:
    CSelection(HDC hDC, HGDIOBJ hObject) : m_hDC(hDC), m_hOld(hObject != nullptr ? ::SelectObject(hDC, hObject) : nullptr) {}
    ~CSelection()
    {
        if (m_hOld != nullptr && m_hOld != HGDI_ERROR)
            ::SelectObject(m_hDC, m_hOld);
    }
    CSelection(const CSelection&) = delete;
    CSelection& operator=(const CSelection&) = delete;

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

// The DC's state (clipping, colours, modes) as it was, restored at the end.
class CSavedDc {
public:
    explicit CSavedDc(HDC hDC) : m_hDC(hDC), m_nSaved(::SaveDC(hDC)) {}
    ~CSavedDc()
    {
        if (m_nSaved != 0)
            ::RestoreDC(m_hDC, m_nSaved);
    }
    CSavedDc(const CSavedDc&) = delete;
    CSavedDc& operator=(const CSavedDc&) = delete;

private:
    HDC m_hDC;
    int m_nSaved;
};

// GetDC (client area) or GetWindowDC (whole window), released at the end.
class CWindowDc {
public:
    CWindowDc(HWND hWnd, bool bWholeWindow)
        : m_hWnd(hWnd), m_hDC(bWholeWindow ? ::GetWindowDC(hWnd) : ::GetDC(hWnd))
    {
    }
    ~CWindowDc()
    {
        if (m_hDC != nullptr)
            ::ReleaseDC(m_hWnd, m_hDC);
    }
    CWindowDc(const CWindowDc&) = delete;
    CWindowDc& operator=(const CWindowDc&) = delete;
    HDC Get() const { return m_hDC; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// BeginPaint and EndPaint.
class CPaintDc {
public:
    explicit CPaintDc(HWND hWnd) : m_hWnd(hWnd), m_hDC(::BeginPaint(hWnd, &m_ps)) {}
    ~CPaintDc() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDc(const CPaintDc&) = delete;
    CPaintDc& operator=(const CPaintDc&) = delete;
    HDC Get() const { return m_hDC; }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps{};
    HDC m_hDC;
};

// An off-screen picture of nWidth x nHeight compatible with hTarget: a control is drawn there
// whole and copied in one piece, so it never shows half drawn. Falls back to drawing straight
// into the target when the picture cannot be made.
class CBufferedDc {
public:
    CBufferedDc(HDC hTarget, int nWidth, int nHeight)
        : m_hTarget(hTarget), m_nWidth(nWidth), m_nHeight(nHeight), m_hMemory(::CreateCompatibleDC(hTarget)),
          m_bitmap(m_hMemory != nullptr && nWidth > 0 && nHeight > 0 ? ::CreateCompatibleBitmap(hTarget, nWidth, nHeight)
                                                                   : nullptr)
    {
        if (m_bitmap)
            m_hOld = ::SelectObject(m_hMemory, m_bitmap.Get());
    }
    ~CBufferedDc()
    {
        if (m_bitmap) {
            ::BitBlt(m_hTarget, 0, 0, m_nWidth, m_nHeight, m_hMemory, 0, 0, SRCCOPY);
            ::SelectObject(m_hMemory, m_hOld);
        }
        m_bitmap.Reset();
        if (m_hMemory != nullptr)
            ::DeleteDC(m_hMemory);
    }
    CBufferedDc(const CBufferedDc&) = delete;
    CBufferedDc& operator=(const CBufferedDc&) = delete;
    // Where to draw.
    HDC Get() const { return m_bitmap ? m_hMemory : m_hTarget; }

private:
    HDC m_hTarget;
    int m_nWidth;
    int m_nHeight;
    HDC m_hMemory;
    CBitmap m_bitmap;
    HGDIOBJ m_hOld = nullptr;
};
