#include "cli/simulator.h"

#include <cstdio>
#include <cstdlib>

#include "transfer/pattern.h"
#include "transfer/record_transfer.h"

namespace {

bool ParseCount(const std::string& strText, int* pnCount)
{
    if (strText.empty() || strText.size() > 6)
        return false;
    for (char c : strText) {
        if (c < '0' || c > '9')
            return false;
    }
    *pnCount = std::atoi(strText.c_str());
    return true;
}

std::string HexBytes(const std::vector<uint8_t>& abBytes)
{
    std::string strText;
    char szByte[4];
    for (uint8_t nByte : abBytes) {
        std::snprintf(szByte, sizeof(szByte), "%02X", nByte);
        if (!strText.empty())
            strText += ' ';
        strText += szByte;
    }
    return strText;
}

} // namespace

bool ParseReplyMode(const std::string& strText, CSimulatorOptions* pOptions)
{
    if (strText == "ok") {
        pOptions->eMode = EReplyMode::Ok;
    } else if (strText == "silent") {
        pOptions->eMode = EReplyMode::Silent;
    } else if (strText == "garbage") {
        pOptions->eMode = EReplyMode::Garbage;
    } else if (strText == "wrong") {
        pOptions->eMode = EReplyMode::Wrong;
    } else if (strText == "split") {
        pOptions->eMode = EReplyMode::Split;
    } else if (strText.rfind("abnormal:", 0) == 0) {
        pOptions->eMode = EReplyMode::Abnormal;
        return ParseCount(strText.substr(9), &pOptions->nCount);
    } else if (strText.rfind("silent:", 0) == 0) {
        pOptions->eMode = EReplyMode::SilentFirst;
        return ParseCount(strText.substr(7), &pOptions->nCount);
    } else {
        return false;
    }
    return true;
}

CSimulatedDevice::CSimulatedDevice(const CSimulatorOptions& options) : m_options(options), m_random(20240607u) {}

std::vector<uint8_t> CSimulatedDevice::ReplyOk() const
{
    return {REPLY_START_MARKER, 'o', 'k', REPLY_END_MARKER};
}

std::vector<uint8_t> CSimulatedDevice::ReplyAbnormal() const
{
    return {REPLY_START_MARKER, 'n', 'g', REPLY_END_MARKER};
}

std::vector<uint8_t> CSimulatedDevice::Noise()
{
    // Bytes without a start or end marker: nothing a reply assembler could take for an answer.
    std::vector<uint8_t> abNoise(1 + m_random() % 8);
    for (uint8_t& nByte : abNoise) {
        do {
            nByte = static_cast<uint8_t>(m_random() & 0xFF);
        } while (nByte == REPLY_START_MARKER || nByte == REPLY_END_MARKER);
    }
    return abNoise;
}

CSimulatedDevice::CEvent CSimulatedDevice::TakeByte(uint8_t nByte)
{
    CEvent event;
    if (!m_abRecord.empty()) {
        m_abRecord.push_back(nByte);
        if (m_abRecord.size() == PATTERN_RECORD_SIZE)
            event = TakeRecord();
        return event;
    }
    if (nByte == RECORD_START_MARKER) {
        m_abRecord.push_back(nByte);
        return event;
    }
    if (nByte == END_OF_TRANSFER_BYTE) {
        event.bEndOfTransfer = true;
        if (m_options.eMode == EReplyMode::Garbage)
            event.abReply = Noise();
        else if (m_options.eMode != EReplyMode::Silent)
            event.abReply = ReplyOk();
        event.strLog = "end of transfer";
    } else {
        char szLog[64];
        std::snprintf(szLog, sizeof(szLog), "stray byte %02X outside a record, ignored", nByte);
        event.strLog = szLog;
        return event;
    }
    if (!event.abReply.empty())
        event.strLog += " -> " + HexBytes(event.abReply);
    return event;
}

CSimulatedDevice::CEvent CSimulatedDevice::TakeRecord()
{
    CEvent event;
    std::vector<uint8_t> abRecord;
    abRecord.swap(m_abRecord);

    CDecodedRecord decoded {};
    std::string strError;
    char szLog[256];
    if (!DecodePatternRecord(abRecord.data(), abRecord.size(), &decoded, &strError)) {
        if (m_options.eMode == EReplyMode::Garbage)
            event.abReply = Noise();
        else if (m_options.eMode != EReplyMode::Silent)
            event.abReply = ReplyAbnormal();
        std::snprintf(szLog, sizeof(szLog), "malformed record (%s): %s", strError.c_str(),
                      HexBytes(abRecord).c_str());
    } else {
        // The answer for repeated sends counts per record content: a new record starts over.
        if (abRecord == m_abLastRecord) {
            ++m_nSendsOfLast;
        } else {
            m_abLastRecord = abRecord;
            m_nSendsOfLast = 1;
            ++m_nRecordsSeen;
        }
        switch (m_options.eMode) {
        case EReplyMode::Ok: event.abReply = ReplyOk(); break;
        case EReplyMode::Abnormal:
            event.abReply = m_nSendsOfLast <= m_options.nCount ? ReplyAbnormal() : ReplyOk();
            break;
        case EReplyMode::SilentFirst:
            if (m_nSendsOfLast > m_options.nCount)
                event.abReply = ReplyOk();
            break;
        case EReplyMode::Silent: break;
        case EReplyMode::Garbage: event.abReply = Noise(); break;
        case EReplyMode::Wrong: event.abReply = ReplyAbnormal(); break;
        case EReplyMode::Split:
            // Never a whole frame after one send: a program that joins the halves is wrong.
            event.abReply = m_bSplitTailDue ? std::vector<uint8_t>{'k', REPLY_END_MARKER}
                                            : std::vector<uint8_t>{REPLY_START_MARKER, 'o'};
            m_bSplitTailDue = !m_bSplitTailDue;
            break;
        }
        std::snprintf(szLog, sizeof(szLog), "record %d (send %d): %.5f,%.5f,%u,%u,%u", m_nRecordsSeen,
                      m_nSendsOfLast, decoded.dFirst, decoded.dSecond, decoded.nFirst, decoded.nSecond,
                      decoded.nThird);
    }
    event.strLog = szLog;
    event.strLog += event.abReply.empty() ? " -> no answer" : " -> " + HexBytes(event.abReply);
    return event;
}
