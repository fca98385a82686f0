#pragma once
// matrixctl's command lines, parsed with CLI11. Each command declares its options in one place,
// one line per option with its help text, and --help is made from those declarations. Every way
// a command line can be wrong is said in the command's own style, "matrixctl CMD: one
// sentence.", with the usage line after it and exit status 1 (EXIT_USAGE).
//
// Help is -h, --help or /? (as on Windows) anywhere before "--"; "--" ends the options, so a
// file whose name starts with "-" can still be given.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}

class CCommandLine {
public:
    // strCommand: the words after "matrixctl" ("send", "skin"; empty for matrixctl itself);
    // strUsage: what follows them in the usage line; strAbout: what the command does.
    CCommandLine(std::string strCommand, std::string strUsage, std::string strAbout);
    ~CCommandLine();
    CCommandLine(const CCommandLine&) = delete;
    CCommandLine& operator=(const CCommandLine&) = delete;

    // A switch, such as "-q,--quiet".
    void AddFlag(const std::string& strNames, bool* pbValue, const std::string& strHelp);
    // An option with a whole decimal number from nMin to nMax. strRefusal is the sentence for
    // any other value (without the command's prefix; "%s" in it stands for the value given).
    void AddNumber(const std::string& strNames, const std::string& strValueName, long* pnValue, long nMin, long nMax,
                   const std::string& strRefusal, const std::string& strHelp);
    // A COM port number, given as N or COMN.
    void AddComPort(const std::string& strNames, long* pnPort, const std::string& strRefusal, const std::string& strHelp);
    // COM port numbers, each given as N or COMN, the option repeated or its values separated by
    // commas ("-p 3 -p 4", "--port 3,4"), in the order given.
    void AddComPorts(const std::string& strNames, std::vector<long>* panPorts, const std::string& strRefusal,
                     const std::string& strHelp);
    // An option with a text value; fnAccept, when given, says whether a value is good (else
    // strRefusal is said, as for a number).
    void AddText(const std::string& strNames, const std::string& strValueName, std::string* pstrValue,
                 const std::string& strHelp, std::function<bool(const std::string&)> fnAccept = {},
                 const std::string& strRefusal = std::string());
    // An argument given by its place; required ones must be there.
    void AddArgument(const std::string& strName, std::string* pstrValue, bool bRequired, const std::string& strHelp);
    // Two options that cannot be given together (by their long names, "--quiet").
    void SetExclusive(const std::string& strFirst, const std::string& strSecond);
    // Text after the options in --help (notes, exit statuses).
    void SetNotes(std::string strNotes);
    // The command line ends at its first argument that is no option: that argument and all
    // after it are the rest (TakeRest), for a command of their own.
    void StopAtFirstArgument();

    // An action of the command ("list" of "skin list") with options and arguments of its own.
    CCommandLine& AddAction(const std::string& strAction, std::string strUsage, std::string strAbout);
    // After Parse: whether this action was the one given.
    bool WasChosen() const;

    // Parses the arguments after the command's own words. Returns -1 to go on; otherwise the
    // exit status to end with: 0 after the help was printed, 1 after a usage error was said.
    int Parse(const std::vector<std::string>& args);
    // After Parse with StopAtFirstArgument: the first argument that is no option and the ones after it.
    std::vector<std::string> TakeRest() const;

    // Says a usage error the command found itself, in the same style; returns EXIT_USAGE.
    int RefuseUsage(const std::string& strSentence) const;
    std::string GetHelp() const;
    std::string GetUsageLine() const;
    // What the command does, its arguments and options (and those of its actions).
    std::string GetBody(bool bWithHelpOption) const;

private:
    CCommandLine(CCommandLine* pRoot, CLI::App* pApp, std::string strCommand, std::string strUsage,
                 std::string strAbout);
    CLI::Option* AddValueOption(const std::string& strNames, const std::string& strValueName, std::string* pstrValue,
                                const std::string& strHelp);
    // Checks each value of the option with fnAccept (which may rewrite it to its plain form);
    // a value it refuses is worded with strRefusal.
    void CheckValues(CLI::Option* pOption, std::function<bool(std::string&)> fnAccept, const std::string& strRefusal);
    const CCommandLine* FindHelpRequest(const std::vector<std::string>& args) const;
    const CCommandLine* GetChosenAction() const;
    std::string DescribeLeftOver() const;
    // "list or extract".
    std::string ListActions() const;
    void NoteRefusal(const std::string& strSentence);

    std::unique_ptr<CLI::App> m_pOwnedApp;
    CLI::App* m_pApp;
    CCommandLine* m_pRoot;
    std::string m_strCommand;
    std::string m_strUsage;
    std::string m_strAbout;
    std::string m_strNotes;
    bool m_bStopAtFirstArgument = false;
    std::vector<std::unique_ptr<CCommandLine>> m_apActions;
    // The first refusal a value check said while CLI11 parsed (on the root).
    std::string m_strRefusal;
};
