// matrix-update.exe: the program's own start-up, which runs the update dialog modally and
// shuts everything down when it closes; the same start-up the Linux dialog uses.

#include <cstring>

#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "app/startup.h"
#include "ui/win32/update_dlg.h"
#include "ui/win32/win32_api.h"
#include "platform/win32/wide_string.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
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
    host.fnRunMainDialog = [&pDialog](CMatrixApp& appIn, CSettingsNotice& notice) {
        CUpdateDlg dialog(appIn);
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
