// matrix-update: the Qt application object, then the program's own start-up, which runs the
// update dialog modally and shuts everything down when it closes.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

#include "app/dialog_command_line.h"
#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "app/startup.h"
#include "app/version.h"
#include "platform/program_path.h"
#include "ui/qt/quit_signals.h"
#include "ui/qt/update_dlg.h"

namespace {

#ifdef MATRIX_STARTUP_PROBE_BUILD
// Only in the start-up benchmark's own build of the program (matrix-update-probe, never
// installed): it prints one line on stdout when its dialog has first been painted, with the
// milliseconds since main began, and closes the dialog at once, so that the benchmark can time
// a whole launch.
class CStartupProbe : public QObject {
public:
    CStartupProbe(QDialog* pDialog, const QElapsedTimer& timer) : m_pDialog(pDialog), m_timer(timer) {}

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pObject == m_pDialog && pEvent->type() == QEvent::Paint && !m_bShown) {
            m_bShown = true;
            const qint64 nMs = m_timer.elapsed();
            QTimer::singleShot(0, m_pDialog, [this, nMs]() {
                std::printf("startup-probe dialog-shown %lld ms\n", static_cast<long long>(nMs));
                std::fflush(stdout);
                m_pDialog->done(QDialog::Accepted);
            });
        }
        return false;
    }

private:
    QDialog* m_pDialog;
    const QElapsedTimer& m_timer;
    bool m_bShown = false;
};

#endif

// The arguments after the program's name.
std::vector<std::string> ArgumentsOf(int argc, char** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return args;
}

// Help and the version, on stdout: its status, or -1 when the command line asks for neither.
int AnswerHelpOrVersion(const CDialogCommandLine& commandLine)
{
    if (commandLine.eAction == CDialogCommandLine::EAction::ShowHelp) {
        std::fputs(GetDialogHelpText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (commandLine.eAction == CDialogCommandLine::EAction::ShowVersion) {
        std::printf("matrix-update %s\n", GetProgramVersion());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return -1;
}

// What start-up's callbacks share with the signal handler while the dialog runs.
struct CDialogRun {
    const QElapsedTimer* pTimer = nullptr;
    QString strStartFile;     // the FILE of the command line, absolute ("" for none)
    CUpdateDlg* pDialog = nullptr;
    bool bQuitRequested = false;
};

void TellOperator(const CDialogRun& run, const CSettingsProblem& problem)
{
    // Ending on a signal, nobody may be there to answer a box, and it would hold up the end;
    // the sentence still goes out, on stderr.
    if (run.bQuitRequested) {
        std::fprintf(stderr, "matrix-update: %s\n", problem.strText.c_str());
        return;
    }
    // Over the dialog when it is up, so the box cannot end up behind it.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("matrix-update"),
                    QString::fromStdString(SettingsProblemText(problem)), QMessageBox::Ok,
                    QApplication::activeModalWidget());
    box.exec();
}

int RunMainDialog(CDialogRun& run, CMatrixApp& app, CSettingsNotice& notice)
{
    if (run.bQuitRequested)
        return int{QDialog::Rejected};
    CUpdateDlg dialog(app);
    if (!run.strStartFile.isEmpty())
        dialog.SetFileName(run.strStartFile);
    dialog.SetSaveFailureHandler([&notice](const std::string& strPath, const std::string& strError) {
        notice.ReportSaveFailure(strPath, strError);
    });
#ifdef MATRIX_STARTUP_PROBE_BUILD
    CStartupProbe probe(&dialog, *run.pTimer);
    dialog.installEventFilter(&probe);
#endif
    run.pDialog = &dialog;
    const int nResult = dialog.exec();
    run.pDialog = nullptr;
    return nResult;
}

} // namespace

int main(int argc, char** argv)
{
    // Help and the version are answered before Qt starts, so that they need no display.
    CDialogCommandLine commandLine = ReadDialogCommandLine(ArgumentsOf(argc, argv));
    if (const int nStatus = AnswerHelpOrVersion(commandLine); nStatus >= 0)
        return nStatus;
    QElapsedTimer timer;
    timer.start();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("matrix-update"));
    // Qt has taken its own options (-style, -platform, ...) out of the arguments: what is left
    // is ours.
    commandLine = ReadDialogCommandLine(ArgumentsOf(argc, argv));
    if (commandLine.eAction == CDialogCommandLine::EAction::Refuse) {
        std::fprintf(stderr, "matrix-update: %s.\nusage: matrix-update [OPTIONS] [FILE]\n", commandLine.strProblem.c_str());
        return 1;
    }

    CMatrixApp app;
    app.InitCommandLineFromProcess(argc > 0 ? argv[0] : nullptr);
    CDialogRun run;
    run.pTimer = &timer;
    // Start-up makes the program's folder the current one: a relative FILE is taken from the
    // folder the program was started in, before that.
    if (!commandLine.strFile.empty())
        run.strStartFile = QString::fromStdString(MakeAbsolutePath(commandLine.strFile));

    // A logout, kill or Ctrl-C ends the program as "離開" does, so the device gets its
    // end-of-transfer byte and the skin file and setting.ini are dealt with on the way out.
    CQuitSignals quitSignals([&run](int) {
        run.bQuitRequested = true;
        CloseOpenPrompts(run.pDialog);
        if (run.pDialog != nullptr)
            run.pDialog->OnExit();
    });

    CSkinLibrary skin;
    CStartupHost host;
    host.fnTellOperator = [&run](const CSettingsProblem& problem) { TellOperator(run, problem); };
    host.fnRunMainDialog = [&run](CMatrixApp& appIn, CSettingsNotice& notice) {
        return RunMainDialog(run, appIn, notice);
    };

    // Start-up returns false when the dialog has closed and everything is undone: the
    // program then ends without a message loop of its own.
    if (!RunInstanceStartup(app, skin, host))
        return RunInstanceExit();
    return QApplication::exec();
}
