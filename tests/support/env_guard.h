#pragma once

// Environment variables set for one test and put back afterwards. Header-only, so the Qt
// tests can use it too.

#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

class CEnvGuard {
public:
    CEnvGuard() = default;
    ~CEnvGuard()
    {
        for (auto it = m_aSaved.rbegin(); it != m_aSaved.rend(); ++it)
            Put(it->first, it->second ? it->second->c_str() : nullptr);
    }
    CEnvGuard(const CEnvGuard&) = delete;
    CEnvGuard& operator=(const CEnvGuard&) = delete;

    // Sets strName to strValue, or removes it when strValue is empty.
    void Set(const std::string& strName, const std::string& strValue)
    {
        const char* pszOld = ::getenv(strName.c_str());
        m_aSaved.emplace_back(strName, pszOld != nullptr ? std::optional<std::string>(pszOld) : std::nullopt);
        Put(strName, strValue.empty() ? nullptr : strValue.c_str());
    }

private:
    // Sets the variable, or removes it for nullptr. The Windows C runtime has its own call.
    static void Put(const std::string& strName, const char* pszValue)
    {
#ifdef _WIN32
        ::_putenv_s(strName.c_str(), pszValue != nullptr ? pszValue : "");
#else
        if (pszValue != nullptr)
            ::setenv(strName.c_str(), pszValue, 1);
        else
            ::unsetenv(strName.c_str());
#endif
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_aSaved;
};
