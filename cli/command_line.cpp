#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/cli_output.h"
#include "cli/commands.h"
#include "text/printable.h"

const char* g_pszArgv0 = "matrixctl";

bool ParseNumberArgument(const char* pszText, long nMin, long nMax, long* pnValue)
{
    if (pszText == nullptr || *pszText == '\0')
        return false;
    char* pszEnd = nullptr;
    errno = 0;
    const long nValue = std::strtol(pszText, &pszEnd, 10);
    if (errno != 0 || *pszEnd != '\0' || nValue < nMin || nValue > nMax)
        return false;
    *pnValue = nValue;
    return true;
}

namespace {

// The refusal sentence for a value: "%s" in it stands for the value, shown escaped.
std::string WordRefusal(const std::string& strRefusal, const std::string& strValue)
{
    std::string strText = strRefusal;
    const size_t nAt = strText.find("%s");
    if (nAt != std::string::npos)
        strText.replace(nAt, 2, EscapeForTerminal(strValue));
    return strText;
}

bool IsHelpRequest(const std::string& strArg)
{
    return strArg == "-h" || strArg == "--help" || strArg == "/?";
}

bool LooksLikeOption(const std::string& strArg)
{
    return strArg.size() > 1 && strArg[0] == '-';
}

// "-p, --port N" for the option list of --help.
std::string DescribeOptionNames(const CLI::Option* pOption)
{
    if (pOption->get_positional())
        return pOption->get_name();
    std::string strNames;
    for (const std::string& strShort : pOption->get_snames())
        strNames += (strNames.empty() ? "-" : ", -") + strShort;
    for (const std::string& strLong : pOption->get_lnames())
        strNames += (strNames.empty() ? "--" : ", --") + strLong;
    if (pOption->get_type_size() != 0 && !pOption->get_type_name().empty())
        strNames += " " + pOption->get_type_name();
    return strNames;
}

// Lines of "  NAMES   description", the descriptions in one column; a description's own line
// breaks continue in that column.
std::string FormatOptionList(const std::vector<const CLI::Option*>& apOptions)
{
    size_t nColumn = 0;
    for (const CLI::Option* pOption : apOptions)
        nColumn = std::max(nColumn, DescribeOptionNames(pOption).size());
    nColumn += 4;
    std::string strList;
    for (const CLI::Option* pOption : apOptions) {
        std::string strLine = "  " + DescribeOptionNames(pOption);
        strLine.resize(nColumn, ' ');
        for (char ch : pOption->get_description()) {
            strLine += ch;
            if (ch == '\n')
                strLine += std::string(nColumn, ' ');
        }
        strList += strLine + "\n";
    }
    return strList;
}

} // namespace

CCommandLine::CCommandLine(std::string strCommand, std::string strUsage, std::string strAbout)
    : m_pOwnedApp(std::make_unique<CLI::App>()), m_pApp(m_pOwnedApp.get()), m_pRoot(this),
      m_strCommand(std::move(strCommand)), m_strUsage(std::move(strUsage)), m_strAbout(std::move(strAbout))
{
    m_pApp->name(m_strCommand.empty() ? "matrixctl" : "matrixctl " + m_strCommand);
    // Left-over arguments are ours to word: an unknown option is named as such.
    m_pApp->allow_extras();
    m_pApp->set_help_flag("-h,--help", "show this help and exit (also /?)");
}

CCommandLine::CCommandLine(CCommandLine* pRoot, CLI::App* pApp, std::string strCommand, std::string strUsage,
                           std::string strAbout)
    : m_pApp(pApp), m_pRoot(pRoot), m_strCommand(std::move(strCommand)), m_strUsage(std::move(strUsage)),
      m_strAbout(std::move(strAbout))
{
    m_pApp->allow_extras();
    m_pApp->set_help_flag("-h,--help", "show this help and exit (also /?)");
}

CCommandLine::~CCommandLine() = default;

void CCommandLine::AddFlag(const std::string& strNames, bool* pbValue, const std::string& strHelp)
{
    m_pApp->add_flag(strNames, *pbValue, strHelp)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void CCommandLine::AddNumber(const std::string& strNames, const std::string& strValueName, long* pnValue, long nMin,
                             long nMax, const std::string& strRefusal, const std::string& strHelp)
{
    CheckValues(AddValueOption(strNames, strValueName, nullptr, strHelp),
                [pnValue, nMin, nMax](std::string& strValue) {
                    return ParseNumberArgument(strValue.c_str(), nMin, nMax, pnValue);
                },
                strRefusal);
}

void CCommandLine::AddComPort(const std::string& strNames, long* pnPort, const std::string& strRefusal,
                              const std::string& strHelp)
{
    CheckValues(AddValueOption(strNames, "N", nullptr, strHelp),
                [pnPort](std::string& strValue) {
                    // "COM5", as the port is called everywhere else, or just 5.
                    const char* pszNumber = strValue.c_str();
                    if (strValue.size() > 3 && (strValue.compare(0, 3, "COM") == 0 || strValue.compare(0, 3, "com") == 0))
                        pszNumber += 3;
                    return ParseNumberArgument(pszNumber, 1, 255, pnPort);
                },
                strRefusal);
}

void CCommandLine::AddComPorts(const std::string& strNames, std::vector<long>* panPorts,
                               const std::string& strRefusal, const std::string& strHelp)
{
    CLI::Option* pOption = AddValueOption(strNames, "N", nullptr, strHelp);
    pOption->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->delimiter(',');
    CheckValues(pOption,
                [panPorts](std::string& strValue) {
                    const char* pszNumber = strValue.c_str();
                    if (strValue.size() > 3 && (strValue.compare(0, 3, "COM") == 0 || strValue.compare(0, 3, "com") == 0))
                        pszNumber += 3;
                    long nPort = 0;
                    if (!ParseNumberArgument(pszNumber, 1, 255, &nPort))
                        return false;
                    panPorts->push_back(nPort);
                    return true;
                },
                strRefusal);
}

void CCommandLine::AddText(const std::string& strNames, const std::string& strValueName, std::string* pstrValue,
                           const std::string& strHelp, std::function<bool(const std::string&)> fnAccept,
                           const std::string& strRefusal)
{
    CLI::Option* pOption = AddValueOption(strNames, strValueName, pstrValue, strHelp);
    if (fnAccept)
        CheckValues(pOption, [fnAccept](std::string& strValue) { return fnAccept(strValue); }, strRefusal);
}

CLI::Option* CCommandLine::AddValueOption(const std::string& strNames, const std::string& strValueName,
                                          std::string* pstrValue, const std::string& strHelp)
{
    CLI::Option* pOption = pstrValue != nullptr ? m_pApp->add_option(strNames, *pstrValue, strHelp)
                                                : m_pApp->add_option(strNames, CLI::callback_t(), strHelp);
    pOption->type_name(strValueName)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    return pOption;
}

void CCommandLine::CheckValues(CLI::Option* pOption, std::function<bool(std::string&)> fnAccept,
                               const std::string& strRefusal)
{
    CCommandLine* pRoot = m_pRoot;
    // CLI11 runs the check on each value given, before it stores it; the refusal is ours to
    // say, in the command's own words.
    pOption->check(CLI::Validator(
        [pRoot, fnAccept, strRefusal](std::string& strValue) -> std::string {
            if (fnAccept(strValue))
                return std::string();
            pRoot->NoteRefusal(WordRefusal(strRefusal, strValue));
            return "refused";
        },
        "", ""));
}

void CCommandLine::AddArgument(const std::string& strName, std::string* pstrValue, bool bRequired,
                               const std::string& strHelp)
{
    m_pApp->add_option(strName, *pstrValue, strHelp)->required(bRequired);
}

void CCommandLine::SetExclusive(const std::string& strFirst, const std::string& strSecond)
{
    m_pApp->get_option(strFirst)->excludes(m_pApp->get_option(strSecond));
}

void CCommandLine::SetNotes(std::string strNotes)
{
    m_strNotes = std::move(strNotes);
}

void CCommandLine::StopAtFirstArgument()
{
    m_bStopAtFirstArgument = true;
    m_pApp->prefix_command();
}

CCommandLine& CCommandLine::AddAction(const std::string& strAction, std::string strUsage, std::string strAbout)
{
    CLI::App* pSub = m_pApp->add_subcommand(strAction, strAbout);
    m_pApp->require_subcommand(1);
    m_apActions.push_back(std::unique_ptr<CCommandLine>(new CCommandLine(
        m_pRoot, pSub, m_strCommand + " " + strAction, std::move(strUsage), std::move(strAbout))));
    return *m_apActions.back();
}

bool CCommandLine::WasChosen() const
{
    return m_pApp->parsed();
}

const CCommandLine* CCommandLine::GetChosenAction() const
{
    for (const auto& pAction : m_apActions) {
        if (pAction->WasChosen())
            return pAction.get();
    }
    return nullptr;
}

void CCommandLine::NoteRefusal(const std::string& strSentence)
{
    if (m_strRefusal.empty())
        m_strRefusal = strSentence;
}

const CCommandLine* CCommandLine::FindHelpRequest(const std::vector<std::string>& args) const
{
    const CCommandLine* pCommand = this;
    for (const std::string& strArg : args) {
        if (strArg == "--")
            break;
        if (IsHelpRequest(strArg))
            return pCommand;
        if (LooksLikeOption(strArg))
            continue;
        // The rest belongs to another command, which reads its own help request.
        if (m_bStopAtFirstArgument)
            break;
        for (const auto& pAction : pCommand->m_apActions) {
            if (strArg == pAction->m_pApp->get_name()) {
                pCommand = pAction.get();
                break;
            }
        }
    }
    return nullptr;
}

std::string CCommandLine::ListActions() const
{
    std::string strActions;
    for (const auto& pAction : m_apActions)
        strActions += (strActions.empty() ? "" : " or ") + pAction->m_pApp->get_name();
    return strActions;
}

std::string CCommandLine::DescribeLeftOver() const
{
    // CLI11 keeps the "--" that ended the options among what it did not take.
    std::vector<std::string> astrLeft = m_pApp->remaining(true);
    astrLeft.erase(std::remove(astrLeft.begin(), astrLeft.end(), "--"), astrLeft.end());
    if (astrLeft.empty())
        return std::string();
    const std::string& strFirst = astrLeft.front();
    if (LooksLikeOption(strFirst))
        return "unknown option '" + EscapeForTerminal(strFirst) + "'";
    if (!m_apActions.empty() && GetChosenAction() == nullptr)
        return "unknown action '" + EscapeForTerminal(strFirst) + "' (" + ListActions() + ")";
    return "unexpected argument '" + EscapeForTerminal(strFirst) + "'";
}

int CCommandLine::Parse(const std::vector<std::string>& args)
{
    if (const CCommandLine* pHelp = FindHelpRequest(args)) {
        WriteOutput(pHelp->GetHelp());
        return EXIT_OK;
    }
    // CLI11 takes its arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    m_strRefusal.clear();
    std::string strProblem;
    try {
        m_pApp->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        const CCommandLine* pChosen = GetChosenAction();
        WriteOutput((pChosen != nullptr ? pChosen : this)->GetHelp());
        return EXIT_OK;
    } catch (const CLI::RequiredError&) {
        strProblem = "missing";
    } catch (const CLI::ArgumentMismatch& error) {
        // CLI11 names the option first: "--port: 1 required N missing".
        const std::string strWhat = error.what();
        const size_t nColon = strWhat.find(':');
        strProblem = nColon != std::string::npos && LooksLikeOption(strWhat.substr(0, nColon))
                         ? strWhat.substr(0, nColon) + " needs a value"
                         : "an option lacks its value";
    } catch (const CLI::ExcludesError& error) {
        std::string strWhat = error.what();
        const size_t nAt = strWhat.find(" excludes ");
        strProblem = nAt == std::string::npos
                         ? strWhat
                         : strWhat.substr(0, nAt) + " and " + strWhat.substr(nAt + 10) + " cannot be given together";
    } catch (const CLI::ParseError& error) {
        strProblem = std::string("the command line cannot be read: ") + error.what();
    }
    if (!m_strRefusal.empty())
        return RefuseUsage(m_strRefusal);
    if (!m_bStopAtFirstArgument) {
        const std::string strLeftOver = DescribeLeftOver();
        if (!strLeftOver.empty())
            return RefuseUsage(strLeftOver);
    }
    if (strProblem == "missing") {
        const CCommandLine* pChosen = GetChosenAction();
        const CCommandLine* pCommand = pChosen != nullptr ? pChosen : this;
        strProblem.clear();
        if (!pCommand->m_apActions.empty() && pChosen == nullptr)
            strProblem = "say what to do: " + ListActions();
        for (const CLI::Option* pOption : pCommand->m_pApp->get_options()) {
            if (strProblem.empty() && pOption->get_required() && pOption->count() == 0)
                strProblem = (pOption->get_positional() ? "" : "the option ") + pOption->get_name() + " is missing";
        }
        if (strProblem.empty())
            strProblem = "an argument is missing";
    }
    if (!strProblem.empty())
        return RefuseUsage(strProblem);
    return -1;
}

std::vector<std::string> CCommandLine::TakeRest() const
{
    return m_pApp->remaining();
}

int CCommandLine::RefuseUsage(const std::string& strSentence) const
{
    const CCommandLine* pChosen = GetChosenAction();
    const std::string strPrefix = m_pRoot->m_strCommand.empty() ? "matrixctl" : "matrixctl " + m_pRoot->m_strCommand;
    WriteError(strPrefix + ": " + strSentence + ".\n" + (pChosen != nullptr ? pChosen : this)->GetUsageLine());
    return EXIT_USAGE;
}

std::string CCommandLine::GetUsageLine() const
{
    const std::string strName = m_strCommand.empty() ? "matrixctl" : "matrixctl " + m_strCommand;
    if (m_apActions.empty())
        return "usage: " + strName + (m_strUsage.empty() ? "" : " " + m_strUsage) + "\n";
    std::string strLines;
    for (const auto& pAction : m_apActions)
        strLines += (strLines.empty() ? "usage: " : "       ") + pAction->GetUsageLine().substr(7);
    return strLines;
}

std::string CCommandLine::GetHelp() const
{
    std::string strHelp = GetUsageLine() + "\n" + GetBody(true);
    if (!m_strNotes.empty())
        strHelp += "\n" + m_strNotes + "\n";
    return strHelp;
}

std::string CCommandLine::GetBody(bool bWithHelpOption) const
{
    std::string strBody = m_strAbout + "\n";
    std::vector<const CLI::Option*> apArguments;
    std::vector<const CLI::Option*> apOptions;
    for (const CLI::Option* pOption : m_pApp->get_options()) {
        if (pOption->get_positional())
            apArguments.push_back(pOption);
        else if (bWithHelpOption || pOption != m_pApp->get_help_ptr())
            apOptions.push_back(pOption);
    }
    if (!apArguments.empty())
        strBody += "\narguments:\n" + FormatOptionList(apArguments);
    if (!apOptions.empty())
        strBody += "\noptions:\n" + FormatOptionList(apOptions);
    // Each action once, under the usage lines that name them all.
    for (const auto& pAction : m_apActions)
        strBody += "\n" + pAction->GetBody(false);
    return strBody;
}
