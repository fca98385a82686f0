#include "ui/operator_texts.h"

#include <cerrno>
#include <cstring>

#include "app/startup.h"

namespace {

QString Q(const std::string& str)
{
    return QString::fromStdString(str);
}

// "COM5 (/dev/ttyUSB0)", or "COM5" when no device is known.
QString NamedPort(int nPort, const CPortOpenFailure& failure)
{
    const QString strPort = QStringLiteral("COM%1").arg(nPort);
    return failure.strDevice.empty() ? strPort : strPort + QStringLiteral(" (") + Q(failure.strDevice) + ')';
}

// What a path names that is not a regular file.
QString FileTypeText(EFileType eType)
{
    switch (eType) {
    case EFileType::Directory: return QStringLiteral("資料夾");
    case EFileType::Fifo: return QStringLiteral("具名管道 (FIFO)");
    case EFileType::CharacterDevice:
    case EFileType::BlockDevice: return QStringLiteral("裝置");
    case EFileType::Socket: return QStringLiteral("通訊端 (socket)");
    case EFileType::Regular:
    case EFileType::Other: break;
    }
    return QStringLiteral("特殊檔案");
}

const char* const CHECK_ADAPTER = "請確認轉接器已接上,或選擇裝置所接的通訊埠。";

} // namespace

QString SystemReasonText(int nErrno)
{
    switch (nErrno) {
    case ENOENT: return QStringLiteral("檔案或資料夾不存在");
    case EACCES:
    case EPERM: return QStringLiteral("沒有權限");
    case EROFS: return QStringLiteral("位於唯讀的檔案系統");
    case ENOSPC: return QStringLiteral("磁碟空間不足");
    case EDQUOT: return QStringLiteral("超過磁碟配額");
    case EISDIR: return QStringLiteral("這是資料夾");
    case ENOTDIR: return QStringLiteral("路徑中有一部分不是資料夾");
    case ENAMETOOLONG: return QStringLiteral("名稱太長");
    case ELOOP: return QStringLiteral("符號連結太多層");
    case EIO: return QStringLiteral("輸入/輸出錯誤");
    case ENXIO:
    case ENODEV: return QStringLiteral("裝置不存在");
    case EBUSY: return QStringLiteral("裝置忙碌中");
    case ENOMEM: return QStringLiteral("記憶體不足");
    case 0: return QStringLiteral("原因不明");
    default: break;
    }
    // Rare reasons keep the system's own words rather than none at all.
    return QString::fromLocal8Bit(std::strerror(nErrno));
}

QString PortNotChosenText(const QString& strTyped)
{
    if (strTyped.isEmpty())
        return QStringLiteral("未選擇通訊埠:請在「COM Port」選擇裝置所接的通訊埠。");
    return QStringLiteral("未選擇通訊埠:「%1」不是這台電腦上的通訊埠,請在「COM Port」選擇裝置所接的通訊埠。")
        .arg(strTyped);
}

QString PortOpenFailureText(int nPort, const CPortOpenFailure& failure)
{
    const QString strPort = QStringLiteral("COM%1").arg(nPort);
    const QString strNamed = NamedPort(nPort, failure);
    const QString strDir = Q(failure.strPortsDir);
    switch (failure.eKind) {
    case EPortOpenError::None:
        return QString();
    case EPortOpenError::NotFound:
        if (failure.bLinked)
            return QStringLiteral("%1 不存在:%2 中的連結 %3 所指的裝置已不在。").arg(strNamed, strDir, strPort)
                   + QString::fromUtf8(CHECK_ADAPTER);
        if (!failure.strDevice.empty())
            return QStringLiteral("%1 不存在(%2)。").arg(strNamed, Q(failure.strSystemText))
                   + QString::fromUtf8(CHECK_ADAPTER);
        if (failure.strKernelDevice.empty())
            return QStringLiteral("%1 不存在:%2 中沒有名為 %1 的連結,也沒有對應這個編號的系統裝置。")
                       .arg(strPort, strDir)
                   + QString::fromUtf8(CHECK_ADAPTER);
        if (failure.bKernelNodeExists)
            return QStringLiteral("%1 不存在:%2 中沒有名為 %1 的連結,而 %3 後面沒有序列埠。")
                       .arg(strPort, strDir, Q(failure.strKernelDevice))
                   + QString::fromUtf8(CHECK_ADAPTER);
        return QStringLiteral("%1 不存在:%2 中沒有名為 %1 的連結,而 %3 不存在。")
                   .arg(strPort, strDir, Q(failure.strKernelDevice))
               + QString::fromUtf8(CHECK_ADAPTER);
    case EPortOpenError::Busy:
        if (failure.nHolderPid == 0)
            return QStringLiteral("%1 忙碌中:另一個程式正在使用它。請關閉該程式後再按「開始更新」。").arg(strNamed);
        if (failure.bHolderIsModemManager)
            return QStringLiteral("%1 忙碌中:ModemManager (pid %2) 正在偵測它。請以 udev 規則為這個轉接器設定 "
                                  "ENV{ID_MM_DEVICE_IGNORE}=\"1\",或停止 ModemManager 服務,再按「開始更新」。")
                .arg(strNamed)
                .arg(failure.nHolderPid);
        return QStringLiteral("%1 忙碌中:%2 (pid %3) 正在使用它。請關閉該程式後再按「開始更新」。")
            .arg(strNamed, Q(failure.strHolderCommand))
            .arg(failure.nHolderPid);
    case EPortOpenError::NoPermission:
        if (failure.strGroup.empty())
            return QStringLiteral("沒有開啟 %1 的權限(%2)。請洽系統管理員。").arg(strNamed, Q(failure.strSystemText));
        return QStringLiteral("沒有開啟 %1 的權限:請將您的使用者加入群組「%2」,然後重新登入。")
            .arg(strNamed, Q(failure.strGroup));
    case EPortOpenError::NotSerialPort:
        return QStringLiteral("%1 不是序列埠:它所指的裝置無法當作通訊埠使用。請選擇裝置所接的通訊埠。").arg(strNamed);
    case EPortOpenError::Other:
        break;
    }
    return QStringLiteral("無法開啟 %1:%2。").arg(strNamed, Q(failure.strSystemText));
}

QString PatternFileProblemText(const CPatternFileProblem& problem, const std::string& strCoreText)
{
    const QString strPath = Q(problem.strPath);
    switch (problem.eKind) {
    case EPatternFileProblem::NotChosen:
        return QStringLiteral("未選擇圖樣檔案:請先按「選擇檔案」選擇要傳送的檔案。");
    case EPatternFileProblem::CannotOpen:
        return QStringLiteral("無法開啟檔案 %1:%2。請確認檔案存在且可以讀取。")
            .arg(strPath, SystemReasonText(problem.nErrno));
    case EPatternFileProblem::NotRegularFile:
        return QStringLiteral("無法讀取 %1:這是%2,不是檔案。請選擇要傳送的圖樣檔案。")
            .arg(strPath, FileTypeText(problem.eFileType));
    case EPatternFileProblem::TooLong:
        return QStringLiteral("無法讀取 %1:檔案太大,不是圖樣檔案。請選擇要傳送的圖樣檔案。").arg(strPath);
    case EPatternFileProblem::CannotRead:
        return QStringLiteral("無法讀取檔案 %1:%2。").arg(strPath, SystemReasonText(problem.nErrno));
    case EPatternFileProblem::NoMemory:
        return QStringLiteral("無法讀取 %1:記憶體不足以載入這個檔案。").arg(strPath);
    case EPatternFileProblem::None:
    case EPatternFileProblem::Empty:
    case EPatternFileProblem::NoWholeRecord:
        break;
    }
    return Q(strCoreText);
}

QString SettingsProblemText(const CSettingsProblem& problem)
{
    const QString strHead =
        QStringLiteral("無法儲存設定檔 %1(%2):").arg(Q(problem.strPath), SystemReasonText(problem.nErrno));
    if (problem.bAtStartup)
        return strHead + QStringLiteral("您選擇的通訊埠這次可以使用,但下次啟動時不會記住。");
    return strHead + QStringLiteral("您選擇的通訊埠下次啟動時不會記住。");
}
