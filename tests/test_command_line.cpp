// Command lines as people use them: matrixctl's options and refusals, the dialog's arguments,
// what `matrixctl send` shows on a terminal (which lines, the progress line's width), and names
// from outside escaped in every sentence that shows them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialog_command_line.h"
#include "app/operator_texts.h"
#include "app/startup.h"
#include "cli/cli_host.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/gang_report.h"
#include "cli/progress_line.h"
#include "platform/file_util.h"
#include "platform/serial_device.h"
#include "text/printable.h"

namespace {

// The parts of a text that must never reach a terminal raw: C0 controls and DEL.
bool HoldsControlCharacter(const std::string& strText)
{
    for (char ch : strText) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\n') || c == 0x7F)
            return true;
    }
    return false;
}

TEST(TerminalEscaping, OnlyWhatATerminalWouldActOnIsEscaped)
{
    const struct {
        std::string strIn;
        std::string strShown;
    } aCases[] = {
        {"plain.bin", "plain.bin"},
        // A Windows path keeps its single backslashes when there is nothing else to escape.
        {"C:\\patterns\\a.bin", "C:\\patterns\\a.bin"},
        {"圖案檔/點陣圖案.bin", "圖案檔/點陣圖案.bin"},
        {"a\x1b]0;title\x07.bin", "a\\x1b]0;title\\x07.bin"},
        {"del\x7f.bin", "del\\x7f.bin"},
        {"two\nlines\r\tend", "two\\nlines\\r\\tend"},
        // Once something is escaped, the name's own backslashes are doubled: the escapes can be
        // told from the name.
        {"C:\\x\x1b", "C:\\\\x\\x1b"},
        // U+009B starts a control sequence on some terminals; 0xFF and a lone continuation byte
        // are no UTF-8.
        {"csi\xc2\x9b" "2J", "csi\\u009b2J"},
        {"big5\xff\x80", "big5\\xff\\x80"},
        {"cut\xe5\x82", "cut\\xe5\\x82"},
        // U+00A0 (no control) stays.
        {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(EscapeForTerminal(c.strIn), c.strShown) << c.strIn;
}

TEST(TerminalEscaping, EverySentenceWithANameShowsItEscaped)
{
    const std::string strName = "/tmp/x\x1b]0;pwned\x07\x7f";
    CPortOpenFailure port;
    port.eKind = EPortOpenError::Busy;
    port.strDevice = strName;
    port.nHolderPid = 42;
    port.strHolderCommand = "evil\x1b[2J";
    CPortOpenFailure linked;
    linked.eKind = EPortOpenError::NotFound;
    linked.bLinked = true;
    linked.strDevice = strName;
    linked.strPortsDir = strName;
    CPatternFileProblem fileProblem;
    fileProblem.eKind = EPatternFileProblem::CannotOpen;
    fileProblem.strPath = strName;
    fileProblem.nErrno = 2;
    CSettingsProblem settings;
    settings.strPath = strName;
    std::string strReadError;
    std::vector<uint8_t> data;
    EXPECT_FALSE(ReadWholeFile(strName, &data, &strReadError));
    std::string strWriteError;
    EXPECT_FALSE(WriteFileAtomically(strName + "/no/such/folder", "x", 1, &strWriteError));

    const struct {
        const char* pszWhat;
        std::string strText;
    } aSentences[] = {
        {"port busy, English", port.Describe(5)},
        {"port busy, Chinese", PortOpenFailureText(5, port)},
        {"link to an absent device, English", linked.Describe(6)},
        {"link to an absent device, Chinese", PortOpenFailureText(6, linked)},
        {"file problem, Chinese", PatternFileProblemText(fileProblem, "")},
        {"settings, Chinese", SettingsProblemText(settings)},
        {"port typed, Chinese", PortNotChosenText("COM\x1b[5")},
        {"file read", strReadError},
        {"file write", strWriteError},
    };
    for (const auto& s : aSentences) {
        EXPECT_FALSE(HoldsControlCharacter(s.strText)) << s.pszWhat << ": " << EscapeForTerminal(s.strText);
        EXPECT_NE(s.strText.find("\\x1b"), std::string::npos) << s.pszWhat << ": " << s.strText;
    }
}

// matrixctl words a failing port step in English, in plain words on every system: the call
// names of the dialogs' box ("ReadFile()", "SetCommState()") mean nothing on Linux.
TEST(CliHost, APortStepFailureIsOneEnglishSentence)
{
    const struct {
        EPortStep eStep;
        const char* pszSentence;
    } aCases[] = {
        {EPortStep::SetState, "matrixctl send: applying the line settings to COM5 failed: Input/output error.\n"},
        {EPortStep::Read, "matrixctl send: reading from COM5 failed: Input/output error.\n"},
        {EPortStep::WriteCompletion, "matrixctl send: waiting for a write to COM5 to finish failed: Input/output error.\n"},
    };
    CCliHost host(COutputChoice{});
    for (const auto& c : aCases) {
        testing::internal::CaptureStderr();
        host.ShowPortFailure(CPortStepFailure{c.eStep, 5, "Input/output error"});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.pszSentence);
    }
}

// A command line shaped like send's: a port, a number, two exclusive switches, a file.
struct CSendLikeLine {
    long nPort = -1;
    long nTimeout = 16200;
    bool bQuiet = false;
    bool bVerbose = false;
    std::string strFile;
    CCommandLine line{"send", "[OPTIONS] FILE", "Sends FILE."};

    CSendLikeLine()
    {
        line.AddComPort("-p,--port", &nPort, "'%s' is not a COM port number (1 to 255)", "the port");
        line.AddNumber("--reply-timeout", "MS", &nTimeout, 100, 86400000, "'%s' is not a reply timeout", "the limit");
        line.AddFlag("-q,--quiet", &bQuiet, "quiet");
        line.AddFlag("-v,--verbose", &bVerbose, "verbose");
        line.SetExclusive("--quiet", "--verbose");
        line.AddArgument("FILE", &strFile, true, "the file");
    }
};

TEST(CommandLineParsing, OptionsAreTakenAndMistakesRefusedInTheCommandsWords)
{
    const struct {
        std::vector<std::string> args;
        int nStatus;          // -1: go on
        std::string strError; // what stderr says (a part of it)
        long nPort;
        std::string strFile;
    } aCases[] = {
        {{"-p", "5", "f.bin"}, -1, "", 5, "f.bin"},
        {{"--port=COM7", "f.bin"}, -1, "", 7, "f.bin"},
        {{"f.bin", "--port", "com12"}, -1, "", 12, "f.bin"},
        {{"-p", "3", "-p", "4", "f.bin"}, -1, "", 4, "f.bin"},
        {{"--", "-odd.bin"}, -1, "", -1, "-odd.bin"},
        {{"-h", "--port", "x"}, EXIT_OK, "", -1, ""},
        {{"f.bin", "/?"}, EXIT_OK, "", -1, ""},
        {{}, EXIT_USAGE, "matrixctl send: FILE is missing.\nusage: matrixctl send [OPTIONS] FILE\n", -1, ""},
        {{"f.bin", "--port"}, EXIT_USAGE, "matrixctl send: --port needs a value.\n", -1, ""},
        {{"--port", "256", "f.bin"}, EXIT_USAGE, "matrixctl send: '256' is not a COM port number (1 to 255).\n", -1, ""},
        {{"--port", "COM", "f.bin"}, EXIT_USAGE, "'COM' is not a COM port number", -1, ""},
        {{"--reply-timeout", "99", "f.bin"}, EXIT_USAGE, "matrixctl send: '99' is not a reply timeout.\n", -1, ""},
        {{"--reply-timeout", "-5", "f.bin"}, EXIT_USAGE, "'-5' is not a reply timeout", -1, ""},
        {{"--frob", "f.bin"}, EXIT_USAGE, "matrixctl send: unknown option '--frob'.\n", -1, ""},
        {{"-x", "f.bin"}, EXIT_USAGE, "unknown option '-x'", -1, ""},
        {{"a.bin", "b.bin"}, EXIT_USAGE, "matrixctl send: unexpected argument 'b.bin'.\n", -1, ""},
        {{"-q", "-v", "f.bin"}, EXIT_USAGE, "matrixctl send: --quiet and --verbose cannot be given together.\n", -1, ""},
        // What the person typed is shown escaped too.
        {{"--port", "\x1b[2J", "f.bin"}, EXIT_USAGE, "'\\x1b[2J' is not a COM port number", -1, ""},
    };
    for (const auto& c : aCases) {
        CSendLikeLine send;
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const int nStatus = send.line.Parse(c.args);
        const std::string strOut = testing::internal::GetCapturedStdout();
        const std::string strError = testing::internal::GetCapturedStderr();
        const std::string strCase = c.args.empty() ? "(none)" : c.args.front() + " ...";
        EXPECT_EQ(nStatus, c.nStatus) << strCase << ": " << strError;
        EXPECT_NE(strError.find(c.strError), std::string::npos) << strCase << ": " << strError;
        EXPECT_FALSE(HoldsControlCharacter(strError)) << strCase;
        if (c.nStatus == EXIT_OK) {
            EXPECT_EQ(strOut.rfind("usage: matrixctl send [OPTIONS] FILE\n", 0), 0u) << strCase << ": " << strOut;
        }
        if (c.nStatus == -1) {
            EXPECT_EQ(send.nPort, c.nPort) << strCase;
            EXPECT_EQ(send.strFile, c.strFile) << strCase;
        }
    }
}

// send's ports: repeated, or separated by commas, in the order given.
TEST(CommandLineParsing, SeveralPortsAreTakenInTheirOrder)
{
    const struct {
        std::vector<std::string> args;
        int nStatus;
        std::vector<long> anPorts;
        const char* pszError;
    } aCases[] = {
        {{"-p", "3", "-p", "COM4", "-p", "5", "f.bin"}, -1, {3, 4, 5}, ""},
        {{"--port", "5,3,com4", "f.bin"}, -1, {5, 3, 4}, ""},
        {{"--port=7", "f.bin"}, -1, {7}, ""},
        {{"f.bin"}, -1, {}, ""},
        {{"--port", "3,x", "f.bin"}, EXIT_USAGE, {}, "'x' is not a COM port number"},
    };
    for (const auto& c : aCases) {
        std::vector<long> anPorts;
        std::string strFile;
        CCommandLine line("send", "[OPTIONS] FILE", "Sends FILE.");
        line.AddComPorts("-p,--port", &anPorts, "'%s' is not a COM port number (1 to 255)", "the ports");
        line.AddArgument("FILE", &strFile, true, "the file");
        testing::internal::CaptureStderr();
        const int nStatus = line.Parse(c.args);
        const std::string strError = testing::internal::GetCapturedStderr();
        EXPECT_EQ(nStatus, c.nStatus) << c.args[1] << ": " << strError;
        EXPECT_NE(strError.find(c.pszError), std::string::npos) << strError;
        if (nStatus == -1) {
            EXPECT_EQ(anPorts, c.anPorts) << c.args[1];
        }
    }
}

TEST(CommandLineParsing, ActionsTakeTheirOwnArguments)
{
    const struct {
        std::vector<std::string> args;
        int nStatus;
        std::string strError;
        bool bExtract;
    } aCases[] = {
        {{"extract", "3", "a.zip", "--dir", "d"}, -1, "", true},
        {{"list"}, -1, "", false},
        {{}, EXIT_USAGE, "matrixctl skin: say what to do: list or extract.\n", false},
        {{"frob"}, EXIT_USAGE, "matrixctl skin: unknown action 'frob' (list or extract).\n", false},
        {{"list", "--dir", "d"}, EXIT_USAGE, "matrixctl skin: unknown option '--dir'.\nusage: matrixctl skin list [ARCHIVE]\n",
         false},
        {{"extract"}, EXIT_USAGE, "matrixctl skin: N is missing.\n", false},
        {{"extract", "-h"}, EXIT_OK, "", false},
    };
    for (const auto& c : aCases) {
        std::string strEntry;
        std::string strArchive;
        std::string strDir;
        CCommandLine line("skin", "ACTION ...", "Skins.");
        CCommandLine& list = line.AddAction("list", "[ARCHIVE]", "list");
        list.AddArgument("ARCHIVE", &strArchive, false, "archive");
        CCommandLine& extract = line.AddAction("extract", "N [ARCHIVE] [--dir DIR]", "extract");
        extract.AddArgument("N", &strEntry, true, "entry");
        extract.AddArgument("ARCHIVE", &strArchive, false, "archive");
        extract.AddText("--dir", "DIR", &strDir, "directory");
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const int nStatus = line.Parse(c.args);
        const std::string strOut = testing::internal::GetCapturedStdout();
        const std::string strError = testing::internal::GetCapturedStderr();
        const std::string strCase = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(nStatus, c.nStatus) << strCase << ": " << strError;
        EXPECT_NE(strError.find(c.strError), std::string::npos) << strCase << ": " << strError;
        if (c.nStatus == EXIT_OK) {
            EXPECT_EQ(strOut.rfind("usage: matrixctl skin extract N", 0), 0u) << strOut;
        }
        if (c.nStatus == -1) {
            EXPECT_EQ(extract.WasChosen(), c.bExtract) << strCase;
            EXPECT_EQ(list.WasChosen(), !c.bExtract) << strCase;
        }
        if (c.bExtract) {
            EXPECT_EQ(strEntry, "3");
            EXPECT_EQ(strArchive, "a.zip");
            EXPECT_EQ(strDir, "d");
        }
    }
}

TEST(DialogCommandLineTable, HelpVersionAndOneFile)
{
    using EAction = CDialogCommandLine::EAction;
    const struct {
        std::vector<std::string> args;
        EAction eAction;
        std::string strFile;
        std::string strProblem;
    } aCases[] = {
        {{}, EAction::Run, "", ""},
        {{"pattern.bin"}, EAction::Run, "pattern.bin", ""},
        {{"--", "-odd.bin"}, EAction::Run, "-odd.bin", ""},
        {{"--help"}, EAction::ShowHelp, "", ""},
        {{"a.bin", "-h"}, EAction::ShowHelp, "", ""},
        {{"/?"}, EAction::ShowHelp, "", ""},
        {{"-V", "--bogus"}, EAction::ShowVersion, "", ""},
        {{"--version", "--help"}, EAction::ShowHelp, "", ""},
        {{"--", "--help"}, EAction::Run, "--help", ""},
        {{"--bogus"}, EAction::Refuse, "", "unknown option '--bogus'"},
        {{"a.bin", "b.bin"}, EAction::Refuse, "", "only one FILE can be given, not also 'b.bin'"},
        {{"a\x1b.bin", "b\x07"}, EAction::Refuse, "", "only one FILE can be given, not also 'b\\x07'"},
    };
    for (const auto& c : aCases) {
        const CDialogCommandLine line = ReadDialogCommandLine(c.args);
        const std::string strCase = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(line.eAction, c.eAction) << strCase;
        EXPECT_EQ(line.strFile, c.strFile) << strCase;
        EXPECT_EQ(line.strProblem, c.strProblem) << strCase;
    }
}

TEST(SendOutput, TerminalsGetTheBarAndTheLinesThatMatter)
{
    const struct {
        bool bQuiet, bVerbose, bOutputTerminal, bErrorTerminal;
        EOutputMode eMode;
        bool bBar;
    } aChoices[] = {
        {false, false, true, true, EOutputMode::Important, true},
        {false, true, true, true, EOutputMode::Every, true},
        {false, false, false, true, EOutputMode::Every, true}, // > log in a terminal
        {false, false, true, false, EOutputMode::Every, false}, // 2> log: no bar, so every line
        {false, false, false, false, EOutputMode::Every, false},
        {true, false, true, true, EOutputMode::Quiet, false},
    };
    for (const auto& c : aChoices) {
        const COutputChoice choice = ChooseOutputMode(c.bQuiet, c.bVerbose, c.bOutputTerminal, c.bErrorTerminal);
        EXPECT_EQ(choice.eMode, c.eMode) << c.bQuiet << c.bVerbose << c.bOutputTerminal << c.bErrorTerminal;
        EXPECT_EQ(choice.bShowBar, c.bBar) << c.bQuiet << c.bVerbose << c.bOutputTerminal << c.bErrorTerminal;
    }

    // The transfer's own texts, as a terminal with the bar shows them.
    const struct {
        const char* pszText;
        bool bOnTerminal;
    } aTexts[] = {
        {"Now program 300 data...", false},
        {"傳送第12/300筆", false},
        {"傳送第12筆資料回應OK", false},
        {"傳送第12筆資料回應異常", true},
        {"傳送第0筆資料無回應", true},
        {"點矩陣繪圖軟體 傳輸埠:COM9 已傳送共 300 行資料...", true},
        {"點矩陣繪圖軟體 傳輸埠:COM9 已傳送共 300 行資料... 其中 2 筆無回應", true},
        {"傳輸埠:COM9 連線中斷,已傳送 3/300 筆資料,更新未完成", true},
        // Only whole texts count: a longer or different one is shown.
        {"傳送第12/300筆 ", true},
        {"傳送第x筆資料回應OK", true},
    };
    for (const auto& t : aTexts) {
        const EStatusTextKind eKind = ClassifyStatusText(t.pszText);
        EXPECT_EQ(ShouldPrintStatus(EOutputMode::Important, eKind), t.bOnTerminal) << t.pszText;
        EXPECT_TRUE(ShouldPrintStatus(EOutputMode::Every, eKind)) << t.pszText;
        EXPECT_FALSE(ShouldPrintStatus(EOutputMode::Quiet, eKind)) << t.pszText;
    }
}

TEST(SendOutput, ProgressLineFitsTheTerminal)
{
    CProgressFacts facts;
    facts.nDone = 120;
    facts.nTotal = 300;
    facts.dRecordsPerSecond = 9.84;
    facts.nSecondsLeft = 18;
    const struct {
        int nColumns;
        const char* pszLine;
    } aCases[] = {
        {0, "[#############....................] 120/300 records   40%  0:18 left  9.8 rec/s"},
        {80, "[#############....................] 120/300 records   40%  0:18 left  9.8 rec/s"},
        {50, "[#####.........] 120/300 records   40%  0:18 left"},
        {40, "[######.........] 120/300 records   40%"},
        {30, "[#####........] 120/300   40%"},
        {20, "120/300   40%"},
        {12, "120/300"},
        {5, "120/"},
        {1, ""},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(FormatProgressLine(facts, c.nColumns), c.pszLine) << c.nColumns << " columns";

    // Whatever the counts and the width, the line leaves the last column free: a character
    // there makes the terminal wrap, and the next redraw garbles two lines.
    for (uint64_t nTotal : {1ull, 300ull, 123456789ull}) {
        for (int nColumns = 1; nColumns <= 160; ++nColumns) {
            CProgressFacts any;
            any.nTotal = nTotal;
            any.nDone = nTotal / 3;
            any.dRecordsPerSecond = 12345.6;
            any.nSecondsLeft = 359999;
            EXPECT_LE(FormatProgressLine(any, nColumns).size(), static_cast<size_t>(nColumns - 1)) << nColumns;
        }
    }
}

TEST(SendOutput, GangLinesFitTheTerminalAndAlign)
{
    CGangLineFacts facts;
    facts.nPort = 3;
    facts.nPortWidth = 5;
    facts.nDone = 120;
    facts.nTotal = 500;
    facts.nResends = 2;
    facts.strState = "sending";
    const struct {
        int nColumns;
        const char* pszLine;
    } aCases[] = {
        {80, "COM3   [#########...............................]  120/500  resends 2  sending"},
        {50, "COM3   [##.........]  120/500  resends 2  sending"},
        {40, "COM3   120/500  resends 2  sending"},
        {30, "COM3   120/500  sending"},
        {10, "COM3   12"},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(FormatGangLine(facts, c.nColumns), c.pszLine) << c.nColumns << " columns";
    for (int nColumns = 1; nColumns <= 160; ++nColumns)
        EXPECT_LE(FormatGangLine(facts, nColumns).size(), static_cast<size_t>(nColumns - 1)) << nColumns;
}

} // namespace
