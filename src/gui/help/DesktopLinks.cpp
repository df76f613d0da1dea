#include "DesktopLinks.h"

#include "gui/widgets/MessageBox.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>

namespace {

std::function<bool(const QUrl&)>& Opener()
{
    static std::function<bool(const QUrl&)> opener;
    return opener;
}

} // namespace

bool OpenOnDesktop(QWidget* parent, const QUrl& url)
{
    const bool opened = Opener() ? Opener()(url) : QDesktopServices::openUrl(url);
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

void SetDesktopOpenerForTesting(std::function<bool(const QUrl&)> opener)
{
    Opener() = std::move(opener);
}
