#include "MessageBox.h"

#include "TestHooks.h"

namespace MessageBox {

namespace {

QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                 QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    if (const auto answer = TestHooks::ScriptedMessageBoxAnswer(text, buttons))
        return *answer;
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

} // namespace MessageBox
