#include "OptionsSupport.h"

#include "gui/widgets/DialogFields.h"
#include "gui/widgets/MessageBox.h"

#include <QFormLayout>
#include <QLabel>

#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace OptionsSupport {

QString FromStd(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string ToStd(const QString& s)
{
    return s.toStdString();
}

QLineEdit* AddField(QFormLayout* form, const QString& label, const QString& hint, const char* objectName)
{
    auto* field = new QLineEdit(form->parentWidget());
    field->setObjectName(QLatin1String(objectName));
    field->setPlaceholderText(hint);
    auto* caption = new QLabel(label, form->parentWidget());
    caption->setBuddy(field);
    form->addRow(caption, field);
    return field;
}

void FinishDialog(QWidget* dialog, const QString& title)
{
    dialog->setWindowTitle(title);
    dialog->setAccessibleName(title);
    NameFieldsByTheirLabels(dialog);
}

bool IsBlank(const QLineEdit* field)
{
    return field->text().trimmed().isEmpty();
}

void RefuseField(QWidget* dialog, QLineEdit* field, const QString& text)
{
    MessageBox::Warn(dialog, text);
    field->setFocus();
    field->selectAll();
}

void MakePortField(QLineEdit* field)
{
    // Digits only, so that a typed letter is refused where it is typed; the range is checked at
    // OK, where a message can say what is wanted.
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), field));
}

bool ReadPortField(QWidget* dialog, QLineEdit* field, int* port)
{
    bool ok = false;
    const int value = field->text().trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 65535) {
        RefuseField(dialog, field, QStringLiteral("Please enter an integer between 1 and 65535."));
        return false;
    }
    *port = value;
    return true;
}

} // namespace OptionsSupport
