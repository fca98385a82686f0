#include "platform/sha256.h"

#include <openssl/evp.h>

struct CSha256::CState {
    EVP_MD_CTX* pContext = nullptr;
    bool bFailed = false;
    ~CState() { EVP_MD_CTX_free(pContext); }
};

CSha256::CSha256() : m_pState(std::make_unique<CState>())
{
    m_pState->pContext = EVP_MD_CTX_new();
    m_pState->bFailed =
        m_pState->pContext == nullptr || EVP_DigestInit_ex(m_pState->pContext, EVP_sha256(), nullptr) != 1;
}

CSha256::~CSha256() = default;

bool CSha256::Update(const void* pData, size_t nSize)
{
    if (!m_pState->bFailed && nSize > 0 && EVP_DigestUpdate(m_pState->pContext, pData, nSize) != 1)
        m_pState->bFailed = true;
    return !m_pState->bFailed;
}

bool CSha256::Finish(std::array<uint8_t, SHA256_DIGEST_BYTES>* pDigest)
{
    unsigned int nLength = 0;
    if (m_pState->bFailed || EVP_DigestFinal_ex(m_pState->pContext, pDigest->data(), &nLength) != 1 ||
        nLength != SHA256_DIGEST_BYTES) {
        m_pState->bFailed = true;
        return false;
    }
    // The context is spent: a second Finish would not be this digest.
    m_pState->bFailed = true;
    return true;
}
