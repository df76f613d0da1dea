#pragma once

#include <QObject>

/// Ending the program from a signal (a logout, kill) must not wait for an answer nobody will
/// give: once begun, every open dialog is closed as Cancel or No would close it, and so is every
/// dialog shown after, so that the code waiting on them goes on to the orderly exit that saves.
/// No and Cancel are the answers that change nothing in every question the program asks.
class CDialogsOnQuit : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void Begin();
    bool Begun() const { return m_begun; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_begun = false;
};
