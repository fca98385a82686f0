#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include <string>

#include "app/startup.h"

namespace {

// The skin library as start-up brings it in: from the directory the programs are built into.
class CSkinLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_skin.BringIn(GetSkinLibraryPath(MATRIX_BIN_DIR))) << m_skin.GetLoadError();
        qApp->setStyleSheet(QString());
    }
    void TearDown() override { qApp->setStyleSheet(QString()); }

    std::string Write(const char* pszName, const QByteArray& data)
    {
        const QString strPath = m_dir.filePath(QString::fromLatin1(pszName));
        QFile file(strPath);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return strPath.toStdString();
    }

    QTemporaryDir m_dir;
    CSkinLibrary m_skin;
};

using SkinLibrary = CSkinLibraryTest;

TEST_F(SkinLibrary, AppliesAStyleSheetToTheWholeApplicationAndRemovesIt)
{
    const QByteArray sheet = "/* a skin */\nQWidget { background-color: #123456; color: \"#fff\"; }\n"
                             "QPushButton:hover { border: 1px solid #abcdef; }\n";
    const std::string strPath = Write("good.qss", sheet);
    EXPECT_EQ(m_skin.CallLoadSkin(strPath.c_str(), 0), 0);
    EXPECT_EQ(qApp->styleSheet(), QString::fromUtf8(sheet));
    EXPECT_EQ(m_skin.CallExitSkin(), 0);
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

TEST_F(SkinLibrary, RefusesWhatIsNotAReadableStyleSheetAndKeepsTheOrdinaryLook)
{
    struct {
        const char* pszName;
        QByteArray data;
    } const aCases[] = {
        {"empty.qss", QByteArray()},
        {"binary.qss", QByteArray("PK\x03\x04\x00\x00{}", 8)},
        {"latin1.qss", QByteArray("QWidget { font-family: \"Caf\xe9\"; }")},
        {"open-brace.qss", QByteArray("QWidget { color: red;")},
        {"extra-brace.qss", QByteArray("QWidget { color: red; } }")},
        {"open-comment.qss", QByteArray("QWidget { color: red; } /* never closed")},
        {"plain.txt", QByteArray("just some words\n")},
        {"huge.qss", QByteArray("QWidget { color: red; }\n") + QByteArray(2 * 1024 * 1024, ' ')},
    };
    for (const auto& c : aCases) {
        const std::string strPath = Write(c.pszName, c.data);
        EXPECT_NE(m_skin.CallLoadSkin(strPath.c_str(), 0), 0) << c.pszName;
        EXPECT_TRUE(qApp->styleSheet().isEmpty()) << c.pszName;
    }
    // A missing file, a directory (the path start-up forms when no skin was unpacked), none.
    EXPECT_NE(m_skin.CallLoadSkin((m_dir.path() + "/missing.qss").toStdString().c_str(), 0), 0);
    EXPECT_NE(m_skin.CallLoadSkin((m_dir.path() + "/").toStdString().c_str(), 0), 0);
    EXPECT_NE(m_skin.CallLoadSkin("", 0), 0);
    EXPECT_NE(m_skin.CallLoadSkin(nullptr, 0), 0);
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

TEST_F(SkinLibrary, TheProgramsOwnSkinIsAccepted)
{
    // Entry 26 of the skin archive, as start-up unpacks it.
    const std::string strDir = m_dir.path().toStdString();
    const std::string strCommand = std::string(MATRIX_BIN_DIR) + "/matrixctl skin extract 26 --dir '" + strDir + "' >/dev/null";
    ASSERT_EQ(std::system(strCommand.c_str()), 0);
    EXPECT_EQ(m_skin.CallLoadSkin((strDir + "/matrix-calm.qss").c_str(), 0), 0);
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
}

} // namespace
