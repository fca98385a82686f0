#include "app/pattern_preview.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "app/operator_texts.h"
#include "platform/file_util.h"
#include "text/printable.h"
#include "transfer/pattern_csv.h"
#include "transfer/pattern_summary.h"
#include "transfer/record_transfer.h"

namespace {

const char* const PREVIEW_TITLE = "預覽圖樣";

// The refusal the transfer would show, kept for the preview instead of shown in a box.
class CRefusalCatcher : public IStatusWindow {
public:
    void SetWindowText(const std::string&) override {}
    void MessageBox(const std::string& strText) override { m_strText = strText; }
    void ReportFileProblem(const CPatternFileProblem& problem, const std::string& strText) override
    {
        m_problem = problem;
        m_strText = strText;
    }
    CPatternFileProblem m_problem;
    std::string m_strText;
};

std::string LeafName(const std::string& strPath)
{
    const size_t nSlash = strPath.find_last_of("/\\");
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string RangeText(int64_t nMin, int64_t nMax)
{
    return nMin == nMax ? FormatHundredThousandths(nMin)
                        : FormatHundredThousandths(nMin) + " 至 " + FormatHundredThousandths(nMax);
}

} // namespace

CPreviewContents LoadPreviewContents(const std::string& strPath)
{
    CPreviewContents contents;
    contents.strPath = strPath;
    const std::string strName = LeafName(strPath);
    contents.strTitle = strName.empty() ? PREVIEW_TITLE : std::string(PREVIEW_TITLE) + " - " + EscapeForTerminal(strName);

    // The very gate "開始更新" passes a file through before it opens a port: what it refuses is
    // said here in the words the refusal's box uses.
    CRefusalCatcher catcher;
    CTransferOutcome outcome;
    std::vector<uint8_t> data;
    if (!LoadPatternFile(&catcher, strPath, &data, &outcome)) {
        contents.bRefused = true;
        const CPatternFileProblem& problem = catcher.m_problem;
        if (problem.eKind != EPatternFileProblem::NotPatternFile) {
            contents.astrLines.push_back(PatternFileProblemText(problem, catcher.m_strText));
            return contents;
        }
        // How much of it is damaged tells a file of another kind (all of it) from a pattern
        // file with one bad record; the file was readable a moment ago.
        std::string strError;
        if (ReadWholeFile(strPath, &data, &strError)) {
            const CPatternFileSummary summary = SummarisePatternFile(data.data(), data.size());
            contents.nRecords = summary.nRecords;
            contents.astrLines.push_back(PreviewRecordsText(strName, summary.nRecords, summary.nDamagedRecords));
        }
        contents.astrLines.push_back(PreviewRefusalText(PatternMarkerFaultText(strPath, problem.markerFault)));
        return contents;
    }

    const CPatternFileSummary summary = SummarisePatternFile(data.data(), data.size());
    contents.nRecords = summary.nRecords;
    contents.astrLines.push_back(PreviewRecordsText(strName, summary.nRecords, 0));
    if (summary.nTrailingBytes != 0)
        contents.astrLines.push_back(PreviewTrailingText(summary.nTrailingBytes));
    contents.records = DecodePatternRecords(data.data(), data.size());
    contents.astrCaption.push_back("x:" + RangeText(summary.nMinX, summary.nMaxX) + "  y:" +
                                   RangeText(summary.nMinY, summary.nMaxY));
    return contents;
}

CPatternPicture BuildPreviewPicture(const CPreviewContents& contents, int nWidth, int nHeight)
{
    if (contents.records.empty())
        return CPatternPicture{};
    CPictureOptions options;
    options.astrCaption = contents.astrCaption;
    options.nSize = std::clamp(nWidth, PICTURE_MIN_SIZE, PICTURE_MAX_SIZE);
    CPatternPicture picture = BuildPatternPicture(contents.records, options);
    // The height follows the pattern's shape and the text grows in steps with the size, so a
    // picture too high is made again narrower, a few times at most.
    for (int nPass = 0; nPass < 4 && picture.nHeight > nHeight && options.nSize > PICTURE_MIN_SIZE; ++nPass) {
        const double dShrink = static_cast<double>(std::max(nHeight, 1)) / picture.nHeight;
        options.nSize = std::max(PICTURE_MIN_SIZE, static_cast<int>(std::floor(options.nSize * dShrink)) - nPass);
        picture = BuildPatternPicture(contents.records, options);
    }
    return picture;
}

CPreviewPlacement PlacePreviewWindow(const CScreenRect& dialog, const CScreenRect& workArea)
{
    CScreenRect rect;
    rect.nHeight = std::min(dialog.nHeight, workArea.nHeight);
    rect.nWidth = std::min(dialog.nHeight, workArea.nWidth);
    const int nRoomRight = workArea.Right() - (dialog.Right() + PREVIEW_GAP);
    const int nRoomLeft = dialog.nLeft - PREVIEW_GAP - workArea.nLeft;
    if (nRoomRight >= rect.nWidth) {
        rect.nLeft = dialog.Right() + PREVIEW_GAP;
    } else if (nRoomLeft >= rect.nWidth) {
        rect.nLeft = dialog.nLeft - PREVIEW_GAP - rect.nWidth;
    } else if (std::max(nRoomLeft, nRoomRight) >= PREVIEW_MIN_WIDTH) {
        // Narrower, on the side with more room.
        rect.nWidth = std::max(nRoomLeft, nRoomRight);
        rect.nLeft = nRoomRight >= nRoomLeft ? dialog.Right() + PREVIEW_GAP : workArea.nLeft;
    } else {
        // No room beside it: at the work area's edge on the larger side, over the dialog.
        rect.nLeft = nRoomRight >= nRoomLeft ? workArea.Right() - rect.nWidth : workArea.nLeft;
    }
    rect.nTop = std::clamp(dialog.nTop, workArea.nTop, workArea.Bottom() - rect.nHeight);
    rect.nLeft = std::clamp(rect.nLeft, workArea.nLeft, workArea.Right() - rect.nWidth);
    CPreviewPlacement placement;
    placement.rect = rect;
    placement.bOverDialog = rect.nLeft < dialog.Right() && dialog.nLeft < rect.Right() && rect.nTop < dialog.Bottom() &&
                            dialog.nTop < rect.Bottom();
    return placement;
}

CPreviewFileWatch::CStamp CPreviewFileWatch::StampOf(const std::string& strPath)
{
    CStamp stamp;
    stamp.strPath = strPath;
    if (strPath.empty())
        return stamp;
    namespace fs = std::filesystem;
    // The path is UTF-8 on every system; the system's own form is made from it.
    const fs::path path(std::u8string(reinterpret_cast<const char8_t*>(strPath.data()), strPath.size()));
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status))
        return stamp;
    stamp.bThere = true;
    if (fs::is_regular_file(status)) {
        const uintmax_t nSize = fs::file_size(path, ec);
        stamp.nSize = ec ? 0 : static_cast<uint64_t>(nSize);
        const fs::file_time_type time = fs::last_write_time(path, ec);
        stamp.nTime = ec ? 0 : static_cast<int64_t>(time.time_since_epoch().count());
    }
    return stamp;
}

bool CPreviewFileWatch::Poll(const std::string& strPath)
{
    const CStamp now = StampOf(strPath);
    const bool bSteady = now == m_seen;
    m_seen = now;
    return bSteady && (!m_bHaveShown || !(now == m_shown));
}

void CPreviewFileWatch::Shown(const std::string& strPath)
{
    m_shown = StampOf(strPath);
    m_seen = m_shown;
    m_bHaveShown = true;
}
