#include "FileDialog.h"

#include "TestHooks.h"

#include <QFileDialog>
#include <QFileInfo>
#include <optional>

namespace FileDialog {

namespace {

// The next dialog opens where the last one left off, for this run of the program.
QString g_lastFolder;

QString Run(QFileDialog& dialog)
{
    if (!g_lastFolder.isEmpty())
        dialog.setDirectory(g_lastFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString path = dialog.selectedFiles().constFirst();
    g_lastFolder = QFileInfo(path).absolutePath();
    return path;
}

// `path` with `extension` appended when its file name part has no dot.
QString WithDefaultExtension(const QString& path, const QString& extension)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return path.indexOf(QLatin1Char('.'), slash + 1) >= 0 ? path : path + extension;
}

} // namespace

QString AskOpenFile(QWidget* parent, const QString& title, const QStringList& filters, const QString& start)
{
    if (const std::optional<QString> answer = TestHooks::ScriptedFileDialogAnswer(title))
        return *answer;
    QFileDialog dialog(parent, title, start);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    return Run(dialog);
}

QString AskSaveFile(QWidget* parent, const QString& title, const QStringList& filters, const QString& extension,
                    bool confirmOverwrite)
{
    if (const std::optional<QString> answer = TestHooks::ScriptedFileDialogAnswer(title))
        return answer->isEmpty() ? QString() : WithDefaultExtension(*answer, extension);
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    // The dialog appends it itself, so that the overwrite question names the file really written.
    dialog.setDefaultSuffix(extension.mid(1));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    const QString path = Run(dialog);
    return path.isEmpty() ? path : WithDefaultExtension(path, extension);
}

} // namespace FileDialog
