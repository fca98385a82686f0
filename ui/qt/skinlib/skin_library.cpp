// The skin library: applies a skin file, a Qt style sheet, to the whole application and
// removes it again. Brought in with dlopen at start-up; it works on the application object
// of the program that loaded it.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringDecoder>

namespace {

// A skin file is a few kilobytes; anything far larger is not one.
constexpr qint64 MAX_SKIN_FILE_BYTES = 1024 * 1024;

enum ESkinResult {
    SKIN_OK = 0,
    SKIN_NO_APPLICATION = 1,
    SKIN_BAD_ARGUMENT = 2,
    SKIN_UNREADABLE = 3,
    SKIN_NOT_A_STYLE_SHEET = 4,
};

// Braces must pair up outside comments and quoted strings. That catches binary files,
// truncated files and other text well enough; Qt itself parses the rules and ignores what
// it does not know.
bool LooksLikeStyleSheet(const QString& strText)
{
    int nDepth = 0;
    bool bSawRule = false;
    for (qsizetype i = 0; i < strText.size(); ++i) {
        const QChar ch = strText.at(i);
        if (ch == QLatin1Char('/') && i + 1 < strText.size() && strText.at(i + 1) == QLatin1Char('*')) {
            const qsizetype nEnd = strText.indexOf(QLatin1String("*/"), i + 2);
            if (nEnd < 0)
                return false;
            i = nEnd + 1;
        } else if (ch == QLatin1Char('"') || ch == QLatin1Char('\'')) {
            const qsizetype nEnd = strText.indexOf(ch, i + 1);
            if (nEnd < 0)
                return false;
            i = nEnd;
        } else if (ch == QLatin1Char('{')) {
            ++nDepth;
            bSawRule = true;
        } else if (ch == QLatin1Char('}')) {
            if (--nDepth < 0)
                return false;
        } else if (ch.unicode() < 0x20 && ch != QLatin1Char('\n') && ch != QLatin1Char('\r') &&
                   ch != QLatin1Char('\t') && ch != QLatin1Char('\f')) {
            return false;
        }
    }
    return nDepth == 0 && bSawRule;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int LoadSkin(const char* pszPath, int nFlags)
{
    (void)nFlags; // the program always passes 0
    auto* pApp = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (pApp == nullptr)
        return SKIN_NO_APPLICATION;
    if (pszPath == nullptr || *pszPath == '\0')
        return SKIN_BAD_ARGUMENT;

    const QString strPath = QString::fromLocal8Bit(pszPath);
    QFile file(strPath);
    if (!QFileInfo(strPath).isFile() || !file.open(QIODevice::ReadOnly))
        return SKIN_UNREADABLE;
    if (file.size() > MAX_SKIN_FILE_BYTES)
        return SKIN_NOT_A_STYLE_SHEET;
    const QByteArray data = file.read(MAX_SKIN_FILE_BYTES + 1);
    if (data.size() > MAX_SKIN_FILE_BYTES || data.contains('\0'))
        return SKIN_NOT_A_STYLE_SHEET;

    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString strText = decoder(data);
    if (decoder.hasError() || !LooksLikeStyleSheet(strText))
        return SKIN_NOT_A_STYLE_SHEET;

    pApp->setStyleSheet(strText);
    return SKIN_OK;
}

extern "C" __attribute__((visibility("default"))) int ExitSkin()
{
    auto* pApp = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (pApp == nullptr)
        return SKIN_NO_APPLICATION;
    pApp->setStyleSheet(QString());
    return SKIN_OK;
}
