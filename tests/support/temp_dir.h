#pragma once

// Scratch directories and the current directory for tests. Header-only, so the Qt tests,
// which do not build tests/support/*.cpp, can use it too.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

// A fresh directory below the system's temporary directory, removed with all it holds when
// the object goes. Path() is empty when the directory could not be made; a fixture asserts
// on that before it relies on the directory. The path is resolved through any links, so it
// compares equal to what the code under test derives from its own current directory.
class CTempDir {
public:
    explicit CTempDir(const std::string& strPrefix = "matrix-test")
    {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        if (ec)
            return;
        std::random_device rd;
        for (int nTry = 0; nTry < 64; ++nTry) {
            const std::filesystem::path path = base / (strPrefix + "-" + std::to_string(rd()));
            // create_directory is false when something is there already: never reuse it.
            if (!std::filesystem::create_directory(path, ec)) {
                if (ec)
                    return;
                continue;
            }
            std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                         ec);
            m_path = std::filesystem::canonical(path, ec);
            if (ec)
                m_path = path;
            return;
        }
    }
    ~CTempDir()
    {
        if (m_path.empty())
            return;
        // A test may leave the directory itself read-only; removal needs it writable again.
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

    // The full name of an entry of the directory, as a string for code that takes one.
    std::string File(const std::string& strName) const { return (m_path / strName).string(); }

    // Everything below the directory, relative to it and sorted, so a test can see that
    // nothing else appeared.
    std::vector<std::string> ListTree() const
    {
        std::vector<std::string> astr;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path))
            astr.push_back(std::filesystem::relative(entry.path(), m_path).generic_string());
        std::sort(astr.begin(), astr.end());
        return astr;
    }

private:
    std::filesystem::path m_path;
};

// Puts the process's current directory back as it was when the guard was made.
class CCurrentDirGuard {
public:
    CCurrentDirGuard() : m_path(std::filesystem::current_path()) {}
    ~CCurrentDirGuard()
    {
        std::error_code ec;
        std::filesystem::current_path(m_path, ec);
    }
    CCurrentDirGuard(const CCurrentDirGuard&) = delete;
    CCurrentDirGuard& operator=(const CCurrentDirGuard&) = delete;

private:
    std::filesystem::path m_path;
};

// The whole content of a file ("" when it cannot be read).
inline std::string ReadFileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
