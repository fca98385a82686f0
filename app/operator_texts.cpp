#include "app/operator_texts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/startup.h"
#include "serial/port_open_text.h"
#include "text/printable.h"

namespace {

// What a path names that is not a regular file.
std::string FileTypeText(EFileType eType)
{
    switch (eType) {
    case EFileType::Directory: return "資料夾";
    case EFileType::Fifo: return "具名管道 (FIFO)";
    case EFileType::CharacterDevice:
    case EFileType::BlockDevice: return "裝置";
    case EFileType::Socket: return "通訊端 (socket)";
    case EFileType::Regular: return "一般檔案";
    case EFileType::Other: break;
    }
    return "特殊檔案";
}

// The dialogs' phrases for a port that could not be opened (serial/port_open_text.h): each
// says what to do next.
const char* ChineseSentence(EPortOpenSentence eSentence)
{
    switch (eSentence) {
    case EPortOpenSentence::None: break;
    case EPortOpenSentence::NoSuchPort: return "{port} 不存在。請確認轉接器已接上,或選擇裝置所接的通訊埠。";
    case EPortOpenSentence::NoSuchPortWithReason: return "{port} 不存在({system})。請確認轉接器已接上,或選擇裝置所接的通訊埠。";
    case EPortOpenSentence::LinkToAbsentDevice: return "{named} 不存在:{dir} 中的連結 {port} 所指的裝置已不在。請確認轉接器已接上,或選擇裝置所接的通訊埠。";
    case EPortOpenSentence::DeviceAbsent: return "{named} 不存在({system})。請確認轉接器已接上,或選擇裝置所接的通訊埠。";
    case EPortOpenSentence::NoLinkNoKernelDevice: return "{port} 不存在:{nolink},也沒有對應這個編號的系統裝置。請確認轉接器已接上,或選擇裝置所接的通訊埠。";
    case EPortOpenSentence::NoLinkKernelNodeEmpty: return "{port} 不存在:{nolink},而 {kernel} 後面沒有序列埠。請確認轉接器已接上,或選擇裝置所接的通訊埠。";
    case EPortOpenSentence::NoLinkKernelNodeAbsent: return "{port} 不存在:{nolink},而 {kernel} 不存在。請確認轉接器已接上,或選擇裝置所接的通訊埠。";
    case EPortOpenSentence::BusyUnknownHolder: return "{named} 忙碌中:另一個程式正在使用它。請關閉該程式後再按「開始更新」。";
    case EPortOpenSentence::BusyModemManager:
        return "{named} 忙碌中:ModemManager (pid {pid}) 正在偵測它。請以 udev 規則為這個轉接器設定 "
               "ENV{ID_MM_DEVICE_IGNORE}=\"1\",或停止 ModemManager 服務,再按「開始更新」。";
    case EPortOpenSentence::BusyHolder: return "{named} 忙碌中:{holder} (pid {pid}) 正在使用它。請關閉該程式後再按「開始更新」。";
    case EPortOpenSentence::NoPermissionGroup: return "沒有開啟 {named} 的權限:請將您的使用者加入群組「{group}」,然後重新登入。";
    case EPortOpenSentence::NoPermissionOwnerOnly:
        return "沒有開啟 {named} 的權限:只有{who}可以開啟這個裝置(權限 {mode},群組 {group})。請系統管理員以 udev "
               "規則開放存取,例如在 /etc/udev/rules.d/ 的規則檔中寫入一行 {rule},重新插上裝置,再將您的使用者加入群組"
               "「dialout」並重新登入。";
    case EPortOpenSentence::NoPermissionOther: return "沒有開啟 {named} 的權限({system})。請洽系統管理員。";
    case EPortOpenSentence::NotSerialPortType: return "{named} 不是序列埠:它是{type}。請選擇裝置所接的通訊埠。";
    case EPortOpenSentence::NotSerialPortDevice: return "{named} 不是序列埠:它所指的裝置無法當作通訊埠使用。請選擇裝置所接的通訊埠。";
    case EPortOpenSentence::PtyMultiplexer:
        return "{named} 不是序列埠:它是虛擬終端機的多工器,每次開啟都會產生一個新的終端機,另一端沒有裝置。請將 {port} "
               "連結到裝置本身的終端機。";
    case EPortOpenSentence::CannotOpen: return "無法開啟 {named}:{system}。";
    }
    return "";
}

std::string PortsDirReasonText(const CPortOpenFailure& failure)
{
    return SystemReasonText(failure.nPortsDirErrno);
}

// A byte as the operator reads it in a message: 0xC1.
std::string HexByte(uint8_t nByte)
{
    const char* const pszDigits = "0123456789ABCDEF";
    return std::string("0x") + pszDigits[nByte >> 4] + pszDigits[nByte & 0x0F];
}

} // namespace

const char* const TEXT_CLOSING_INSTRUCTION = "請按住機器del鍵3秒後放開,待機器畫面閃爍3次後完成更新";

std::string SystemReasonText(int nErrno)
{
    switch (nErrno) {
    case ENOENT: return "檔案或資料夾不存在";
    case EACCES:
    case EPERM: return "沒有權限";
    case EROFS: return "位於唯讀的檔案系統";
    case ENOSPC: return "磁碟空間不足";
#ifdef EDQUOT // not known to the Windows C runtime
    case EDQUOT: return "超過磁碟配額";
#endif
    case EISDIR: return "這是資料夾";
    case ENOTDIR: return "路徑中有一部分不是資料夾";
    case ENAMETOOLONG: return "名稱太長";
    case ELOOP: return "符號連結太多層";
    case EIO: return "輸入/輸出錯誤";
    case ENXIO:
    case ENODEV: return "裝置不存在";
    case EBUSY: return "裝置忙碌中";
    case ENOMEM: return "記憶體不足";
    case 0: return "原因不明";
    default: break;
    }
    // Rare reasons keep the system's own words rather than none at all.
    return std::strerror(nErrno);
}

std::string PortNotChosenText(const std::string& strTyped)
{
    if (strTyped.empty())
        return "未選擇通訊埠:請在「COM Port」選擇裝置所接的通訊埠。";
    return "未選擇通訊埠:「" + EscapeForTerminal(strTyped) + "」不是這台電腦上的通訊埠,請在「COM Port」選擇裝置所接的通訊埠。";
}

std::string PortOpenFailureText(int nPort, const CPortOpenFailure& failure)
{
    static const CPortOpenPhrases phrases = {
        ChineseSentence,
        "無法讀取通訊埠資料夾 {dir}({dirreason})",
        "{dir} 中沒有名為 {port} 的連結",
        " root ",
        "擁有者 {owner} ",
        FileTypeText,
        PortsDirReasonText,
    };
    return WordPortOpenFailure(nPort, failure, phrases);
}

std::string PatternMarkerFaultText(const std::string& strPath, const CPatternMarkerFault& fault)
{
    return EscapeForTerminal(strPath) + " 不是圖樣檔案:第 " + std::to_string(fault.nRecord) + " 筆資料(第 "
           + std::to_string(fault.nOffset) + " 位元組起)的" + (fault.bEndMarker ? "結尾" : "開頭") + "是 "
           + HexByte(fault.nFound) + ",應為 " + HexByte(fault.nExpected) + "。";
}

std::string PatternFileProblemText(const CPatternFileProblem& problem, const std::string& strCoreText)
{
    const std::string strPath = EscapeForTerminal(problem.strPath);
    switch (problem.eKind) {
    case EPatternFileProblem::NotChosen:
        return "未選擇圖樣檔案:請先按「選擇檔案」選擇要傳送的檔案。";
    case EPatternFileProblem::CannotOpen:
        return "無法開啟檔案 " + strPath + ":" + SystemReasonText(problem.nErrno) + "。請確認檔案存在且可以讀取。";
    case EPatternFileProblem::NotRegularFile:
        return "無法讀取 " + strPath + ":這是" + FileTypeText(problem.eFileType) + ",不是檔案。請選擇要傳送的圖樣檔案。";
    case EPatternFileProblem::TooLong:
        return "無法讀取 " + strPath + ":檔案太大,不是圖樣檔案。請選擇要傳送的圖樣檔案。";
    case EPatternFileProblem::CannotRead:
        return "無法讀取檔案 " + strPath + ":" + SystemReasonText(problem.nErrno) + "。";
    case EPatternFileProblem::NoMemory:
        return "無法讀取 " + strPath + ":記憶體不足以載入這個檔案。";
    case EPatternFileProblem::NotPatternFile:
        return PatternMarkerFaultText(problem.strPath, problem.markerFault) + "沒有傳送任何資料,請選擇要傳送的圖樣檔案。";
    case EPatternFileProblem::None:
    case EPatternFileProblem::Empty:
    case EPatternFileProblem::NoWholeRecord:
        break;
    }
    return strCoreText;
}

std::string SettingsProblemText(const CSettingsProblem& problem)
{
    // A file its owner marked read-only is kept as it is: the mark is the reason, not a fault.
    const std::string strPath = EscapeForTerminal(problem.strPath);
    const std::string strHead = problem.bReadOnly
                                    ? "設定檔 " + strPath + " 是唯讀檔案,程式不會更改它:"
                                    : "無法儲存設定檔 " + strPath + "(" + SystemReasonText(problem.nErrno) + "):";
    if (problem.bAtStartup)
        return strHead + "您選擇的通訊埠這次可以使用,但下次啟動時不會記住。";
    return strHead + "您選擇的通訊埠下次啟動時不會記住。";
}

std::string UpdateLogProblemText(const std::string& strPath)
{
    return "無法寫入更新紀錄 " + EscapeForTerminal(strPath) + ":更新照常進行,但本次執行的更新不會留下紀錄。";
}

std::string UpdateEndingText(const CTransferOutcome& outcome, bool* pbWarning)
{
    *pbWarning = false;
    switch (outcome.GetEnding()) {
    case ETransferEnding::NothingSent: return std::string();
    case ETransferEnding::Complete: return TEXT_CLOSING_INSTRUCTION;
    case ETransferEnding::Incomplete: break;
    }
    *pbWarning = true;
    const std::string strPort = "COM" + std::to_string(outcome.nPort);
    const std::string strConfirmed = "裝置只確認收到 " + std::to_string(outcome.nAnswered) + "/"
                                     + std::to_string(outcome.nRecords) + " 筆資料";
    std::string strText = "更新未完成:";
    if (outcome.bLinkLost)
        strText += "傳輸埠 " + strPort + " 連線中斷," + strConfirmed;
    else if (outcome.bCancelled)
        strText += "已取消更新,傳輸埠 " + strPort + " 的" + strConfirmed;
    else
        strText += "傳輸埠 " + strPort + " 的" + strConfirmed;
    const uint32_t nSilent = outcome.nUnanswered - outcome.nWrongGivenUp;
    if (nSilent > 0)
        strText += ",其中 " + std::to_string(nSilent) + " 筆無回應";
    if (outcome.nWrongGivenUp > 0)
        strText += "," + std::to_string(outcome.nWrongGivenUp) + " 筆一再回應異常";
    if (outcome.bGaveUp)
        strText += ",因連續多筆無回應而停止傳送";
    if (outcome.bLinkLost)
        return strText + "。請確認裝置已接上,再按「開始更新」傳送整個檔案。";
    return strText + "。請再按「開始更新」傳送整個檔案。";
}

std::string PreviewRecordsText(const std::string& strName, uint64_t nRecords, uint64_t nDamaged)
{
    std::string strText = EscapeForTerminal(strName) + ":共 " + std::to_string(nRecords) + " 筆資料";
    if (nDamaged != 0)
        strText += ",其中 " + std::to_string(nDamaged) + " 筆損壞";
    return strText;
}

std::string PreviewRefusalText(const std::string& strFaultText)
{
    return strFaultText + "「開始更新」不會傳送這個檔案。";
}

std::string PreviewTrailingText(uint64_t nTrailingBytes)
{
    return "檔案尾端 " + std::to_string(nTrailingBytes) + " 位元組不足一筆,不會傳送。";
}
