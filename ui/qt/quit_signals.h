#pragma once
// SIGTERM, SIGHUP, SIGINT and SIGQUIT (a logout, kill, Ctrl-C or Ctrl-\ in the terminal)
// turned into a call on the Qt thread, so the program can end the way "離開" ends it: a
// running update cancelled with its end-of-transfer byte sent, the skin removed, setting.ini
// written.

#include <QObject>

#include <functional>

class QSocketNotifier;

class CQuitSignals : public QObject {
    Q_OBJECT
public:
    // fnQuit runs on the thread that created this object, once per signal received.
    explicit CQuitSignals(std::function<void(int nSignal)> fnQuit, QObject* pParent = nullptr);
    // Gives the signals their default action back.
    ~CQuitSignals() override;
    CQuitSignals(const CQuitSignals&) = delete;
    CQuitSignals& operator=(const CQuitSignals&) = delete;

    // False when the signals could not be caught (the program then ends on them as before).
    bool IsWatching() const { return m_pNotifier != nullptr; }

private:
    void OnReadable();

    std::function<void(int nSignal)> m_fnQuit;
    QSocketNotifier* m_pNotifier = nullptr;
};

// Closes the modal boxes and file dialogs that are open over pMain, as a person answering
// them would, so that a quit request is not held up by a question nobody is there to answer.
void CloseOpenPrompts(QWidget* pMain);
