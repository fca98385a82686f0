// What the file calls do that only Linux can show: permission bits and the file size limit.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>

#include "platform/file_util.h"
#include "platform/profile.h"
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

} // namespace
