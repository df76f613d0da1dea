#include "MessageBox.h"

#include <QCoreApplication>
#include <deque>

namespace MessageBox {

namespace {

std::deque<QMessageBox::StandardButton> g_nextAnswers;
QStringList g_shownTexts;
bool g_scripted = false;

QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                 QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    g_shownTexts << text;
    if (!g_nextAnswers.empty()) {
        const QMessageBox::StandardButton answer = g_nextAnswers.front();
        g_nextAnswers.pop_front();
        return answer;
    }
    if (g_scripted)
        return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(icon, QStringLiteral("Orvex"), text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

void Warn(QWidget* parent, const QString& text)
{
    Show(parent, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

void Inform(QWidget* parent, const QString& text)
{
    Show(parent, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool AskYesNo(QWidget* parent, const QString& text, QMessageBox::Icon icon)
{
    return Show(parent, icon, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

void SetNextAnswer(QMessageBox::StandardButton answer)
{
    g_nextAnswers.push_back(answer);
}

QStringList TakeShownTexts()
{
    QStringList texts;
    texts.swap(g_shownTexts);
    return texts;
}

void ResetTestHooks()
{
    g_nextAnswers.clear();
    g_shownTexts.clear();
    g_scripted = true;
}

} // namespace MessageBox
