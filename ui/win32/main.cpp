// matrix-update.exe: the program's own start-up, which runs the update dialog modally and
// shuts everything down when it closes; the same start-up the Linux dialog uses.

#include <string>
#include <vector>

#include "app/dialog_command_line.h"
#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "app/startup.h"
#include "app/version.h"
#include "platform/program_path.h"
#include "ui/win32/update_dlg.h"
#include "ui/win32/win32_api.h"
#include "platform/win32/wide_string.h"

namespace {

const wchar_t* const APP_CAPTION = L"matrix-update";

// Help, the version or a refused command line, in a box (a program without a console): the
// program's exit status, or -1 when the command line asks for the dialog.
int AnswerCommandLine(const CDialogCommandLine& commandLine)
{
    switch (commandLine.eAction) {
    case CDialogCommandLine::EAction::ShowHelp:
        ::MessageBoxW(nullptr, Utf8ToWide(GetDialogHelpText()).c_str(), APP_CAPTION, MB_OK | MB_ICONINFORMATION);
        return 0;
    case CDialogCommandLine::EAction::ShowVersion:
        ::MessageBoxW(nullptr, Utf8ToWide(std::string("matrix-update ") + GetProgramVersion()).c_str(), APP_CAPTION,
                      MB_OK | MB_ICONINFORMATION);
        return 0;
    case CDialogCommandLine::EAction::Refuse:
        ::MessageBoxW(nullptr,
                      Utf8ToWide("matrix-update: " + commandLine.strProblem + ".\n\n" + GetDialogHelpText()).c_str(),
                      APP_CAPTION, MB_OK | MB_ICONWARNING);
        return 1;
    case CDialogCommandLine::EAction::Run:
        break;
    }
    return -1;
}

// What start-up's callbacks share while the dialog runs.
struct CDialogRun {
    std::string strStartFile; // the FILE of the command line, absolute ("" for none)
    CUpdateDlg* pDialog = nullptr;
};

void TellOperator(const CDialogRun& run, const CSettingsProblem& problem)
{
    // Over the dialog when it is up, so the box cannot end up behind it.
    ::MessageBoxW(run.pDialog != nullptr ? run.pDialog->GetSafeHwnd() : nullptr,
                  Utf8ToWide(SettingsProblemText(problem)).c_str(), APP_CAPTION, MB_OK | MB_ICONWARNING);
}

int RunMainDialog(CDialogRun& run, CMatrixApp& app, CSettingsNotice& notice)
{
    CUpdateDlg dialog(app);
    if (!run.strStartFile.empty())
        dialog.SetFileName(run.strStartFile);
    dialog.SetSaveFailureHandler([&notice](const std::string& strPath, const std::string& strError) {
        notice.ReportSaveFailure(strPath, strError);
    });
    run.pDialog = &dialog;
    const int nResult = dialog.DoModal();
    run.pDialog = nullptr;
    return nResult;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The same command line as the Linux dialog's.
    std::vector<std::string> args = TakeProgramArguments(0, nullptr);
    if (!args.empty())
        args.erase(args.begin());
    const CDialogCommandLine commandLine = ReadDialogCommandLine(args);
    if (const int nStatus = AnswerCommandLine(commandLine); nStatus >= 0)
        return nStatus;
    CDialogRun run;
    // Start-up makes the program's folder the current one: a relative FILE is taken from the
    // folder the program was started in, before that.
    if (!commandLine.strFile.empty())
        run.strStartFile = MakeAbsolutePath(commandLine.strFile);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    CMatrixApp app;
    app.InitCommandLineFromProcess(nullptr);
    CSkinLibrary skin;
    CStartupHost host;
    host.fnTellOperator = [&run](const CSettingsProblem& problem) { TellOperator(run, problem); };
    host.fnRunMainDialog = [&run](CMatrixApp& appIn, CSettingsNotice& notice) {
        return RunMainDialog(run, appIn, notice);
    };

    // Start-up returns once the dialog has closed and everything is undone; the program has no
    // message loop of its own after it.
    RunInstanceStartup(app, skin, host);
    return RunInstanceExit();
}
