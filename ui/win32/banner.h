#pragma once
// The dialog's banner: bitmap resource 171 in the bitmap holder, drawn into a device context.
// Kept apart from the dialog's code because the holder's structures share their names with
// those of <windows.h>.

#include <memory>

struct HDC__;
class CDibImage;

class CBanner {
public:
    CBanner();
    ~CBanner();
    CBanner(const CBanner&) = delete;
    CBanner& operator=(const CBanner&) = delete;

    // Clears the picture, then loads bitmap resource 171; a missing or refused resource leaves
    // it empty and the dialog works without it.
    void Load();
    bool IsEmpty() const;
    // The whole image stretched into (0, 0, nWidth, nHeight) of hDC.
    void Draw(HDC__* hDC, int nWidth, int nHeight) const;

private:
    std::unique_ptr<CDibImage> m_pPicture;
};
