// matrix-update: the Qt application object, then the program's own start-up, which runs the
// update dialog modally and shuts everything down when it closes.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

#include "app/matrix_app.h"
#include "app/startup.h"
#include "app/version.h"
#include "ui/operator_texts.h"
#include "ui/quit_signals.h"
#include "ui/update_dlg.h"

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

} // namespace

int main(int argc, char** argv)
{
    // Answered before Qt starts, so that it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("matrix-update %s\n", GetProgramVersion());
        return 0;
    }
    QElapsedTimer timer;
    timer.start();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("matrix-update"));

    CMatrixApp app;
    app.InitCommandLineFromProcess(argc > 0 ? argv[0] : nullptr);

    // A logout, kill or Ctrl-C ends the program as "離開" does, so the device gets its
    // end-of-transfer byte and the skin file and setting.ini are dealt with on the way out.
    CUpdateDlg* pDialog = nullptr;
    bool bQuitRequested = false;
    CQuitSignals quitSignals([&pDialog, &bQuitRequested](int) {
        bQuitRequested = true;
        CloseOpenPrompts(pDialog);
        if (pDialog != nullptr)
            pDialog->OnExit();
    });

    CSkinLibrary skin;
    CStartupHost host;
    host.fnTellOperator = [&bQuitRequested](const CSettingsProblem& problem) {
        // Ending on a signal, nobody may be there to answer a box, and it would hold up the
        // end; the sentence still goes out, on stderr.
        if (bQuitRequested) {
            std::fprintf(stderr, "matrix-update: %s\n", problem.strText.c_str());
            return;
        }
        // Over the dialog when it is up, so the box cannot end up behind it.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("matrix-update"), SettingsProblemQText(problem),
                        QMessageBox::Ok, QApplication::activeModalWidget());
        box.exec();
    };
    host.fnRunMainDialog = [&timer, &pDialog, &bQuitRequested](CMatrixApp& appIn, CSettingsNotice& notice) {
        if (bQuitRequested)
            return int{QDialog::Rejected};
        CUpdateDlg dialog(appIn);
        dialog.SetSaveFailureHandler([&notice](const std::string& strPath, const std::string& strError) {
            notice.ReportSaveFailure(strPath, strError);
        });
#ifdef MATRIX_STARTUP_PROBE_BUILD
        CStartupProbe probe(&dialog, timer);
        dialog.installEventFilter(&probe);
#else
        (void)timer;
#endif
        pDialog = &dialog;
        const int nResult = dialog.exec();
        pDialog = nullptr;
        return nResult;
    };

    // Start-up returns false when the dialog has closed and everything is undone: the
    // program then ends without a message loop of its own.
    if (!RunInstanceStartup(app, skin, host))
        return RunInstanceExit();
    return QApplication::exec();
}
