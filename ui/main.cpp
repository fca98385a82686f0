// matrix-update: for now only runs the update dialog with the stored settings; the full
// start-up and shutdown come later.
#include <QApplication>

#include "app/matrix_app.h"
#include "serial/serial_link.h"
#include "ui/update_dlg.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    CMatrixApp app;
    app.InitCommandLineFromProcess(argc > 0 ? argv[0] : nullptr);
    app.LoadSettings();
    {
        CUpdateDlg dialog(app);
        dialog.exec();
    }
    app.SaveSettings();
    delete g_pSerialLink;
    g_pSerialLink = nullptr;
    return 0;
}
