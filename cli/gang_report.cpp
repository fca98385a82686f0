#include "cli/gang_report.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/cli_output.h"

namespace {

constexpr int UNKNOWN_WIDTH = 80;
constexpr int MAX_BAR = 40;
constexpr int MIN_BAR = 10;

std::string PortName(int nPort)
{
    return "COM" + std::to_string(nPort);
}

std::string PadRight(std::string str, size_t nWidth)
{
    if (str.size() < nWidth)
        str.append(nWidth - str.size(), ' ');
    return str;
}

} // namespace

std::string FormatGangLine(const CGangLineFacts& facts, int nColumns)
{
    const size_t nRoom = static_cast<size_t>(std::max((nColumns > 0 ? nColumns : UNKNOWN_WIDTH) - 1, 0));
    const uint64_t nDone = std::min(facts.nDone, facts.nTotal);
    const std::string strPort = PadRight(PortName(facts.nPort), static_cast<size_t>(std::max(facts.nPortWidth, 0)));
    // The count is as wide as the largest it can be, so that the columns after it stay put.
    const std::string strTotal = std::to_string(facts.nTotal);
    const std::string strCount =
        std::string(strTotal.size() - std::min(strTotal.size(), std::to_string(nDone).size()), ' ')
        + std::to_string(nDone) + "/" + strTotal;
    const std::string strResends = "resends " + std::to_string(facts.nResends);

    const std::string strFull = strPort + "  " + strCount + "  " + strResends + "  " + facts.strState;
    // Room for a bar of at least MIN_BAR between the port and the count? Its brackets and the
    // spaces after it take four columns more.
    const size_t nBarRoom = nRoom > strFull.size() + 4 ? nRoom - strFull.size() - 4 : 0;
    if (nBarRoom >= MIN_BAR && facts.nTotal > 0) {
        const size_t nBar = std::min<size_t>(nBarRoom, MAX_BAR);
        const size_t nFilled = static_cast<size_t>(nDone * nBar / facts.nTotal);
        return strPort + "  [" + std::string(nFilled, '#') + std::string(nBar - nFilled, '.') + "]  " + strCount
               + "  " + strResends + "  " + facts.strState;
    }
    for (const std::string& strLine : {strFull, strPort + "  " + strCount + "  " + facts.strState}) {
        if (strLine.size() <= nRoom)
            return strLine;
    }
    return (strPort + "  " + strCount + "  " + facts.strState).substr(0, nRoom);
}

std::string DescribeGangOutcome(const CTransferOutcome& outcome)
{
    if (!outcome.bStarted)
        return "not opened";
    if (outcome.bLinkLost)
        return "link lost";
    if (outcome.bCancelled)
        return "cancelled";
    if (outcome.bGaveUp)
        return "stopped";
    if (outcome.GetEnding() == ETransferEnding::Complete)
        return "complete";
    return "no reply";
}

std::string FormatGangSummary(const std::vector<CGangPortResult>& aResults)
{
    const std::vector<std::string> astrHeader = {"port", "device", "outcome", "records", "no reply", "resends", "time"};
    std::vector<std::vector<std::string>> aRows = {astrHeader};
    for (const CGangPortResult& result : aResults) {
        const CTransferOutcome& o = result.outcome;
        aRows.push_back({PortName(result.nPort), result.strDevice.empty() ? "-" : result.strDevice,
                         DescribeGangOutcome(o), std::to_string(o.nHandled) + "/" + std::to_string(o.nRecords),
                         std::to_string(o.nUnanswered), std::to_string(o.nResends),
                         FormatText("%.1f s", result.dSeconds)});
    }
    std::vector<size_t> anWidths(astrHeader.size(), 0);
    for (const auto& row : aRows) {
        for (size_t i = 0; i < row.size(); ++i)
            anWidths[i] = std::max(anWidths[i], row[i].size());
    }
    std::string strTable;
    for (const auto& row : aRows) {
        std::string strLine;
        for (size_t i = 0; i < row.size(); ++i)
            strLine += i + 1 < row.size() ? PadRight(row[i], anWidths[i]) + "  " : row[i];
        strTable += strLine + "\n";
    }
    return strTable;
}

std::string FormatGangJson(const std::vector<CGangPortResult>& aResults, const std::string& strFile,
                           uint32_t nRecords, int nExitStatus)
{
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    for (const CGangPortResult& result : aResults) {
        const CTransferOutcome& o = result.outcome;
        nlohmann::ordered_json port;
        port["port"] = PortName(result.nPort);
        port["device"] = result.strDevice;
        port["outcome"] = DescribeGangOutcome(o);
        port["complete"] = o.GetEnding() == ETransferEnding::Complete;
        port["records"] = o.nRecords;
        port["handled"] = o.nHandled;
        port["answered"] = o.nAnswered;
        port["without_reply"] = o.nUnanswered;
        port["resends"] = o.nResends;
        port["cancelled"] = o.bCancelled;
        port["link_lost"] = o.bLinkLost;
        port["seconds"] = result.dSeconds;
        port["exit_status"] = result.nExitStatus;
        ports.push_back(std::move(port));
    }
    nlohmann::ordered_json summary;
    summary["file"] = strFile;
    summary["records"] = nRecords;
    summary["exit_status"] = nExitStatus;
    summary["ports"] = std::move(ports);
    // Names from outside (a file, a device) may hold bytes that are no UTF-8: they are
    // replaced rather than refused, so that the summary is always written.
    return summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
