#include "DesktopLinks.h"

#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>

bool OpenOnDesktop(QWidget* parent, const QUrl& url)
{
    const auto& standIn = TestHooks::DesktopOpener();
    const bool opened = standIn ? standIn(url) : QDesktopServices::openUrl(url);
    if (opened)
        return true;
    const bool mail = url.scheme() == QStringLiteral("mailto");
    const QString address = mail ? url.path() : url.toString();
    QGuiApplication::clipboard()->setText(address);
    const QString what = mail ? QCoreApplication::translate("OpenOnDesktop", "write e-mail")
                              : QCoreApplication::translate("OpenOnDesktop", "open web pages");
    MessageBox::Warn(parent,
                     QCoreApplication::translate("OpenOnDesktop", "No program is set up on this desktop to %1.\n\n"
                                                                  "The address is on the clipboard:\n%2")
                         .arg(what, address));
    return false;
}
