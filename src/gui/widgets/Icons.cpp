#include "Icons.h"

#include <QFile>
#include <QHash>

namespace {

QString ThemeName(const QString& name)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("add"), QStringLiteral("list-add")},
        {QStringLiteral("add-pack"), QStringLiteral("list-add")},
        {QStringLiteral("edit"), QStringLiteral("document-properties")},
        {QStringLiteral("delete"), QStringLiteral("edit-delete")},
        {QStringLiteral("duplicate"), QStringLiteral("edit-copy")},
        {QStringLiteral("check"), QStringLiteral("view-refresh")},
        {QStringLiteral("check-all"), QStringLiteral("view-refresh")},
        {QStringLiteral("renew"), QStringLiteral("view-refresh")},
        {QStringLiteral("partner-add"), QStringLiteral("contact-new")},
        {QStringLiteral("partner-list"), QStringLiteral("x-office-address-book")},
        {QStringLiteral("options"), QStringLiteral("preferences-system")},
        {QStringLiteral("import-excel"), QStringLiteral("document-open")},
        {QStringLiteral("export-text"), QStringLiteral("document-save-as")},
        {QStringLiteral("export-excel"), QStringLiteral("document-save-as")},
        {QStringLiteral("help"), QStringLiteral("help-contents")},
        {QStringLiteral("website"), QStringLiteral("internet-web-browser")},
        {QStringLiteral("email-support"), QStringLiteral("mail-message-new")},
        {QStringLiteral("about"), QStringLiteral("help-about")},
        {QStringLiteral("find"), QStringLiteral("edit-find")},
        {QStringLiteral("view-source"), QStringLiteral("text-html")},
        {QStringLiteral("copy"), QStringLiteral("edit-copy")},
        {QStringLiteral("external-links"), QStringLiteral("emblem-symbolic-link")},
        {QStringLiteral("open-browser"), QStringLiteral("internet-web-browser")},
        {QStringLiteral("orvex"), QStringLiteral("applications-internet")},
    };
    return names.value(name, name);
}

} // namespace

// The icons are compiled into a static library; without a reference the linker would drop them.
// Q_INIT_RESOURCE declares a global function, so this stays outside any namespace.
static void EnsureIconResources()
{
    static const bool initialised = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)initialised;
}

QIcon OrvexIcon(const QString& name)
{
    EnsureIconResources();
    const QString path = QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
    if (QFile::exists(path))
        return QIcon(path);
    return QIcon::fromTheme(ThemeName(name));
}
