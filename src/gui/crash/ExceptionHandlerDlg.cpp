#include "ExceptionHandlerDlg.h"

#include "ProductInfo.h"
#include "gui/help/DesktopLinks.h"
#include "gui/widgets/Icons.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

CExceptionHandlerDlg::CExceptionHandlerDlg(QString reportPath, QWidget* parent)
    : QDialog(parent), m_reportPath(std::move(reportPath))
{
    setWindowTitle(QStringLiteral("Orvex"));
    setAccessibleName(QStringLiteral("Orvex"));
    setWindowIcon(OrvexIcon(QStringLiteral("orvex")));

    auto* icon = new QLabel(this);
    icon->setPixmap(OrvexIcon(QStringLiteral("orvex")).pixmap(32, 32));
    auto* apology = new QLabel(QStringLiteral("Unfortunately Orvex has encountered a problem and need to close.\n"
                                              "We are sorry for the inconvenience."),
                               this);
    apology->setObjectName(QStringLiteral("apologyLabel"));
    auto* offer = new QLabel(QStringLiteral("We have created an error report that you can send to help us improve "
                                            "Orvex. We will treat this report as confidential and anonymous."),
                             this);
    offer->setObjectName(QStringLiteral("offerLabel"));
    offer->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* send = buttons->addButton(QStringLiteral("Send Error Report"), QDialogButtonBox::AcceptRole);
    send->setObjectName(QStringLiteral("sendButton"));
    send->setDefault(true);
    QPushButton* dontSend = buttons->addButton(QStringLiteral("Don't Send"), QDialogButtonBox::RejectRole);
    dontSend->setObjectName(QStringLiteral("dontSendButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CExceptionHandlerDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CExceptionHandlerDlg::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(apology);
    texts->addWidget(offer);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    send->setFocus();
}

QUrl CExceptionHandlerDlg::MailLink(const QString& reportPath)
{
    const QByteArray subject = QUrl::toPercentEncoding(QStringLiteral("Orvex " ORVEX_VERSION " Crash Report"));
    const QByteArray body = QUrl::toPercentEncoding(
        QStringLiteral("Please attach the following file and send it to Orvex support team.\r\n") + reportPath +
        QStringLiteral("\r\n"));
    return QUrl::fromEncoded("mailto:" ORVEX_SUPPORT_ADDRESS "?subject=" + subject + "&body=" + body, QUrl::StrictMode);
}

void CExceptionHandlerDlg::accept()
{
    OpenOnDesktop(this, MailLink(m_reportPath));
    QDialog::accept();
}
