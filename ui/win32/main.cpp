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

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The same command line as the Linux dialog's; a program without a console answers help
    // and the version in a box.
    std::vector<std::string> args = TakeProgramArguments(0, nullptr);
    if (!args.empty())
        args.erase(args.begin());
    const CDialogCommandLine commandLine = ReadDialogCommandLine(args);
    switch (commandLine.eAction) {
    case CDialogCommandLine::EAction::ShowHelp:
        ::MessageBoxW(nullptr, Utf8ToWide(GetDialogHelpText()).c_str(), L"matrix-update", MB_OK | MB_ICONINFORMATION);
        return 0;
    case CDialogCommandLine::EAction::ShowVersion:
        ::MessageBoxW(nullptr, Utf8ToWide(std::string("matrix-update ") + GetProgramVersion()).c_str(), L"matrix-update",
                      MB_OK | MB_ICONINFORMATION);
        return 0;
    case CDialogCommandLine::EAction::Refuse:
        ::MessageBoxW(nullptr,
                      Utf8ToWide("matrix-update: " + commandLine.strProblem + ".\n\n" + GetDialogHelpText()).c_str(),
                      L"matrix-update", MB_OK | MB_ICONWARNING);
        return 1;
    case CDialogCommandLine::EAction::Run:
        break;
    }
    // Start-up makes the program's folder the current one: a relative FILE is taken from the
    // folder the program was started in, before that.
    const std::string strStartFile = commandLine.strFile.empty() ? std::string() : MakeAbsolutePath(commandLine.strFile);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    CMatrixApp app;
    app.InitCommandLineFromProcess(nullptr);

    CUpdateDlg* pDialog = nullptr;
    CSkinLibrary skin;
    CStartupHost host;
    host.fnTellOperator = [&pDialog](const CSettingsProblem& problem) {
        // Over the dialog when it is up, so the box cannot end up behind it.
        ::MessageBoxW(pDialog != nullptr ? pDialog->GetSafeHwnd() : nullptr,
                      Utf8ToWide(SettingsProblemText(problem)).c_str(), L"matrix-update", MB_OK | MB_ICONWARNING);
    };
    host.fnRunMainDialog = [&pDialog, &strStartFile](CMatrixApp& appIn, CSettingsNotice& notice) {
        CUpdateDlg dialog(appIn);
        if (!strStartFile.empty())
            dialog.SetFileName(strStartFile);
        dialog.SetSaveFailureHandler([&notice](const std::string& strPath, const std::string& strError) {
            notice.ReportSaveFailure(strPath, strError);
        });
        pDialog = &dialog;
        const int nResult = dialog.DoModal();
        pDialog = nullptr;
        return nResult;
    };

    // Start-up returns false when the dialog has closed and everything is undone.
    if (!RunInstanceStartup(app, skin, host))
        return RunInstanceExit();
    return RunInstanceExit();
}
