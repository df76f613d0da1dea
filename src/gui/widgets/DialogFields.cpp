#include "DialogFields.h"

#include <QLabel>
#include <QWidget>

QDate ToQDate(const OleDateTime& date)
{
    const DateParts parts = date.GetParts();
    const QDate day(parts.year, parts.month, parts.day);
    return day.isValid() ? day : QDate::currentDate();
}

OleDateTime ToOleDate(const QDate& date)
{
    return OleDateTime::FromParts(date.year(), date.month(), date.day());
}

void NameFieldsByTheirLabels(QWidget* dialog)
{
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        QWidget* field = label->buddy();
        if (!field)
            continue;
        // "&&" stands for one "&"; a single "&" only marks the mnemonic.
        const QString text = label->text();
        QString name;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == QLatin1Char('&') && i + 1 < text.size())
                ++i;
            name += text[i];
        }
        field->setAccessibleName(name);
    }
}

QString CommentForEditing(const std::string& stored)
{
    QString text = QString::fromStdString(stored);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string CommentForStoring(const QString& edited)
{
    QString text = edited;
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text.toStdString();
}
