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
        for (auto it = m_aSaved.rbegin(); it != m_aSaved.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }
    CEnvGuard(const CEnvGuard&) = delete;
    CEnvGuard& operator=(const CEnvGuard&) = delete;

    // Sets strName to strValue, or removes it when strValue is empty.
    void Set(const std::string& strName, const std::string& strValue)
    {
        const char* pszOld = ::getenv(strName.c_str());
        m_aSaved.emplace_back(strName, pszOld != nullptr ? std::optional<std::string>(pszOld) : std::nullopt);
        if (strValue.empty())
            ::unsetenv(strName.c_str());
        else
            ::setenv(strName.c_str(), strValue.c_str(), 1);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_aSaved;
};
