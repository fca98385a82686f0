#include "ui/win32/banner.h"

#include "bitmap/dib_image.h"
#include "platform/resources.h"

namespace {
const char* const BANNER_RESOURCE = "171";
}

CBanner::CBanner() : m_pPicture(std::make_unique<CDibImage>()) {}

CBanner::~CBanner() = default;

void CBanner::Load()
{
    if (!m_pPicture->IsEmpty())
        m_pPicture->Clear();
    const uint8_t* pData = nullptr;
    size_t nSize = 0;
    if (FindProgramResource("BITMAP", BANNER_RESOURCE, &pData, &nSize))
        m_pPicture->CreateFromPackedDib(pData, nSize);
}

bool CBanner::IsEmpty() const
{
    return m_pPicture->IsEmpty();
}

void CBanner::Draw(HDC__* hDC, int nWidth, int nHeight) const
{
    m_pPicture->Draw(hDC, CDibRect{0, 0, nWidth, nHeight},
                     CDibRect{0, 0, m_pPicture->GetWidth(), m_pPicture->GetHeight()});
}
