#pragma once
// The simulated device behind `matrixctl simulate`: it frames the bytes it receives into
// pattern records and decides each answer. The pseudo-terminal, the pacing and the signals
// are the command's (cli/cmd_simulate.cpp).

#include <cstdint>
#include <random>
#include <string>
#include <vector>

enum class EReplyMode {
    Ok,          // every well-formed record is answered ok
    Abnormal,    // the first K sends of each record are answered ng, then ok
    Silent,      // nothing is ever answered
    SilentFirst, // the first K sends of each record are ignored, then ok
    Garbage,     // everything is answered with noise that holds no reply frame
    Wrong,       // every record is answered ng, for ever
    Split,       // each ok answer is cut in two: FB 'o' after one record, 'k' FE after the next
};

struct CSimulatorOptions {
    int nPort = 9;
    EReplyMode eMode = EReplyMode::Ok;
    int nCount = 0;     // K of abnormal:K and silent:K
    int nPaceBaud = 0;  // 0: no pacing
    bool bOnce = false; // exit after answering the end-of-transfer byte
};

// Parses ok | abnormal:K | wrong | silent | silent:K | garbage | split. False when it is none
// of these.
bool ParseReplyMode(const std::string& strText, CSimulatorOptions* pOptions);

class CSimulatedDevice {
public:
    struct CEvent {
        bool bEndOfTransfer = false;
        std::vector<uint8_t> abReply; // may be empty: no answer
        std::string strLog;           // one line for the log, "" when there is nothing to say
    };

    explicit CSimulatedDevice(const CSimulatorOptions& options);

    // Takes one received byte; the event says what the device answers.
    CEvent TakeByte(uint8_t nByte);

private:
    std::vector<uint8_t> ReplyOk() const;
    std::vector<uint8_t> ReplyAbnormal() const;
    std::vector<uint8_t> Noise();
    CEvent TakeRecord();

    CSimulatorOptions m_options;
    std::vector<uint8_t> m_abRecord; // the record being received; empty outside a record
    std::vector<uint8_t> m_abLastRecord;
    int m_nSendsOfLast = 0;
    int m_nRecordsSeen = 0;
    bool m_bSplitTailDue = false; // split: the next record gets the second half
    std::minstd_rand m_random;
};
