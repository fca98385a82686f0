// What the file calls do that only Linux can show: permission bits and the file size limit.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/profile.h"
#include "platform/file_util.h"
#include "tests/support/temp_dir.h"

namespace {

void WriteText(const std::string& strPath, const std::string& strText)
{
    std::ofstream(strPath, std::ios::binary) << strText;
}

TEST(ProfileFile, AReplacedFileKeepsItsPermissionBits)
{
    CTempDir dir;
    std::string strPath = dir.File("setting.ini");
    WriteText(strPath, "[Connection]\nComPort=7\n");
    ::chmod(strPath.c_str(), 0640);
    std::string strError;
    ASSERT_TRUE(WritePrivateProfileString("Connection", "ComPort", "12", strPath, &strError)) << strError;
    struct stat st {};
    ASSERT_EQ(::stat(strPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A write that fails half-way (here: the file size limit, as a full disk would) must leave
// the old file whole and no temporary file behind.
TEST(ProfileAtomicWrite, FailedWriteLeavesTheOldFileIntact)
{
    CTempDir dir;
    std::string strPath = dir.File("setting.ini");
    WriteText(strPath, "[Connection]\nComPort=5\n");

    struct rlimit oldLimit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit smallLimit = oldLimit;
    smallLimit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &smallLimit), 0);
    std::string strBig(100000, 'x');
    std::string strError;
    bool bWritten = WriteFileAtomically(strPath, strBig.data(), strBig.size(), &strError);
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(bWritten);
    EXPECT_NE(strError.find(strPath), std::string::npos) << strError;
    EXPECT_NE(strError.find("too large"), std::string::npos) << strError;
    EXPECT_EQ(ReadFileText(strPath), "[Connection]\nComPort=5\n");
    EXPECT_EQ(dir.ListTree().size(), 1u);
}

// A save killed half-way (here by the file size limit, whose signal ends a process as a kill
// would) leaves its temporary file behind; the next save of the same file removes it and any
// older ones, and nothing else: not another file's, not one that is no temporary name, not one
// a save still under way holds, not a directory or a link.
TEST(ProfileAtomicWrite, LeftoversOfKilledSavesAreRemovedByTheNextSave)
{
    CTempDir dir;
    const std::string strPath = dir.File("setting.ini");
    WriteText(strPath, "[Connection]\nComPort=5\n");
    const std::string strBig(100000, 'x');
    for (int i = 0; i < 2; ++i) {
        const pid_t nChild = ::fork();
        ASSERT_GE(nChild, 0);
        if (nChild == 0) {
            struct rlimit limit {4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            struct rlimit noCore {0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            std::signal(SIGXFSZ, SIG_DFL);
            WriteFileAtomically(strPath, strBig.data(), strBig.size(), nullptr);
            ::_exit(0);
        }
        int nStatus = 0;
        ASSERT_EQ(::waitpid(nChild, &nStatus, 0), nChild);
        ASSERT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGXFSZ) << nStatus;
    }
    // The second killed save had removed the first one's file before it was killed in turn.
    ASSERT_EQ(dir.ListTree().size(), 2u) << "a killed save leaves its temporary file";
    WriteText(dir.File("setting.ini.Old001"), "left by a save killed long ago");
    WriteText(dir.File("setting.ini.Old002"), "left by a save killed long ago");

    WriteText(dir.File("setting.ini.bak"), "kept");
    WriteText(dir.File("setting.ini.ab-123"), "kept");
    WriteText(dir.File("other.ini.Abc123"), "kept");
    WriteText(dir.File("setting.ini.Live01"), "a save under way");
    const int fdLive = ::open(dir.File("setting.ini.Live01").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fdLive, 0);
    ASSERT_EQ(::flock(fdLive, LOCK_EX), 0);
    ASSERT_EQ(::mkdir(dir.File("setting.ini.Dir123").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(dir.File("other.ini.Abc123").c_str(), dir.File("setting.ini.Lnk123").c_str()), 0);

    std::string strError;
    ASSERT_TRUE(WritePrivateProfileString("Connection", "ComPort", "6", strPath, &strError)) << strError;
    ::close(fdLive);
    EXPECT_EQ(ReadFileText(strPath), "[Connection]\nComPort=6\n");
    std::vector<std::string> astrLeft;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        astrLeft.push_back(entry.path().filename().string());
    std::sort(astrLeft.begin(), astrLeft.end());
    EXPECT_EQ(astrLeft, (std::vector<std::string>{"other.ini.Abc123", "setting.ini", "setting.ini.Dir123",
                                                  "setting.ini.Live01", "setting.ini.Lnk123", "setting.ini.ab-123",
                                                  "setting.ini.bak"}));
}

} // namespace
