#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

/// Turns SIGINT, SIGTERM and SIGHUP (Ctrl+C, kill, a closing session) into an orderly quit on the
/// event loop, so that exit saves what the user entered instead of the process dying mid-way.
class CQuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit CQuitSignals(std::function<void()> onQuit, QObject* parent = nullptr);
    ~CQuitSignals() override;

private:
    std::function<void()> m_onQuit;
    QSocketNotifier* m_notifier = nullptr;
};
