#include "TestHooks.h"

#include "core/platform/TestHooks.h"

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <deque>

namespace {

// Scripted only after AnswerDialogsWithoutUser: the program itself never gets here.
bool g_scripted = false;
std::deque<QMessageBox::StandardButton> g_messageBoxAnswers;
QStringList g_messageBoxTexts;
std::deque<QString> g_fileDialogAnswers;
QStringList g_fileDialogTitles;

std::function<bool(const QUrl&)>& Opener()
{
    static std::function<bool(const QUrl&)> opener;
    return opener;
}

} // namespace

namespace TestHooks {

void SetNextMessageBoxAnswer(QMessageBox::StandardButton answer)
{
    g_messageBoxAnswers.push_back(answer);
}

QStringList TakeMessageBoxTexts()
{
    QStringList texts;
    texts.swap(g_messageBoxTexts);
    return texts;
}

void SetNextFileDialogAnswer(const QString& path)
{
    g_fileDialogAnswers.push_back(path);
}

QStringList TakeFileDialogTitles()
{
    QStringList titles;
    titles.swap(g_fileDialogTitles);
    return titles;
}

void AnswerDialogsWithoutUser()
{
    g_messageBoxAnswers.clear();
    g_messageBoxTexts.clear();
    g_fileDialogAnswers.clear();
    g_fileDialogTitles.clear();
    g_scripted = true;
}

void SetDesktopOpener(std::function<bool(const QUrl&)> opener)
{
    Opener() = std::move(opener);
}

std::optional<QMessageBox::StandardButton> ScriptedMessageBoxAnswer(const QString& text,
                                                                    QMessageBox::StandardButtons buttons)
{
    g_messageBoxTexts << text;
    if (!g_messageBoxAnswers.empty()) {
        const QMessageBox::StandardButton answer = g_messageBoxAnswers.front();
        g_messageBoxAnswers.pop_front();
        return answer;
    }
    if (g_scripted)
        return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    return std::nullopt;
}

std::optional<QString> ScriptedFileDialogAnswer(const QString& title)
{
    g_fileDialogTitles << title;
    if (!g_fileDialogAnswers.empty()) {
        QString answer = g_fileDialogAnswers.front();
        g_fileDialogAnswers.pop_front();
        return answer;
    }
    if (g_scripted)
        return QString();
    return std::nullopt;
}

const std::function<bool(const QUrl&)>& DesktopOpener()
{
    return Opener();
}

void PhotographWhenAsked(QWidget& window)
{
    const QString path = QString::fromStdString(ScreenshotPath());
    if (path.isEmpty())
        return;
    window.resize(1180, 640);
    QTimer::singleShot(1500, &window, [&window, path] {
        if (!window.grab().save(path))
            std::fprintf(stderr, "orvex: cannot write %s\n", qPrintable(path));
        window.close();
    });
}

void DescribeCrashDialogWhenAsked(QDialog& dialog, const QString& reportPath)
{
    const QString probe = QString::fromStdString(CrashDialogProbe());
    if (probe.isEmpty())
        return;
    QTimer::singleShot(0, &dialog, [&dialog, probe, reportPath] {
        QFile file(probe);
        if (file.open(QIODevice::WriteOnly)) {
            QStringList shown = {dialog.windowTitle()};
            for (const QLabel* label : dialog.findChildren<QLabel*>())
                if (!label->text().isEmpty())
                    shown << label->text();
            for (const QPushButton* button : dialog.findChildren<QPushButton*>())
                shown << button->text();
            shown << reportPath;
            file.write(shown.join(QLatin1Char('\n')).toUtf8());
        }
        dialog.reject();
    });
}

} // namespace TestHooks
