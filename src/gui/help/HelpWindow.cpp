#include "HelpWindow.h"

#include "DesktopLinks.h"
#include "core/platform/Paths.h"
#include "gui/widgets/Icons.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

CHelpWindow::CHelpWindow(const QString& helpFile, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowIcon(OrvexIcon(QStringLiteral("orvex")));
    setSizeGripEnabled(true);
    // A window of its own: it stays open beside the main window and takes no input from it.
    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    setModal(false);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("helpBrowser"));
    m_browser->setOpenLinks(false);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &CHelpWindow::Follow);
    m_browser->setSource(QUrl::fromLocalFile(helpFile));
    const QString title = m_browser->documentTitle().isEmpty() ? tr("Orvex Help") : m_browser->documentTitle();
    setWindowTitle(title);
    setAccessibleName(title);
    m_browser->setAccessibleName(title);
    m_browser->setMinimumSize(fontMetrics().averageCharWidth() * 90, fontMetrics().height() * 36);

    // The keys a browser has for going back and forth.
    auto* back = new QShortcut(QKeySequence::Back, this);
    connect(back, &QShortcut::activated, m_browser, &QTextBrowser::backward);
    auto* forward = new QShortcut(QKeySequence::Forward, this);
    connect(forward, &QShortcut::activated, m_browser, &QTextBrowser::forward);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &CHelpWindow::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser, 1);
    layout->addWidget(buttons);
    m_browser->setFocus();
}

QString CHelpWindow::FindHelpFile()
{
    return QString::fromStdString(Paths::FindDataFile("orx-help.html"));
}

void CHelpWindow::Follow(const QUrl& link)
{
    const QUrl target = m_browser->source().resolved(link);
    if (target.isLocalFile() && QFileInfo::exists(target.toLocalFile()))
        m_browser->setSource(target);
    else
        OpenOnDesktop(this, target);
}
