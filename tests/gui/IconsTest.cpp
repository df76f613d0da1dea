// The icon set as the window uses it: every command's icon loads from the resources and draws
// something at toolbar and menu size, and names the program has no icon for fall back to the
// desktop theme.
#include "gui/widgets/Icons.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList kIconNames = {
    QStringLiteral("add"),           QStringLiteral("add-pack"),
    QStringLiteral("edit"),          QStringLiteral("delete"),
    QStringLiteral("duplicate"),     QStringLiteral("check"),
    QStringLiteral("check-all"),     QStringLiteral("renew"),
    QStringLiteral("partner-add"),   QStringLiteral("partner-list"),
    QStringLiteral("options"),       QStringLiteral("import-excel"),
    QStringLiteral("export-text"),   QStringLiteral("export-excel"),
    QStringLiteral("help"),          QStringLiteral("website"),
    QStringLiteral("email-support"), QStringLiteral("about"),
    QStringLiteral("find"),          QStringLiteral("view-source"),
    QStringLiteral("copy"),          QStringLiteral("external-links"),
    QStringLiteral("open-browser"),  QStringLiteral("orvex"),
};

int OpaquePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 64)
                ++count;
    return count;
}

} // namespace

class IconsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QImageReader::supportedImageFormats().contains("svg"),
                 "the Qt SVG image plugin is missing (Debian: libqt6svg6)");
    }

    void everyIconDrawsAtMenuAndToolbarSize_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString& name : kIconNames)
            QTest::newRow(name.toUtf8().constData()) << name;
    }

    void everyIconDrawsAtMenuAndToolbarSize()
    {
        QFETCH(QString, name);
        const QIcon icon = OrvexIcon(name);
        QVERIFY2(!icon.isNull(), "no icon");
        for (const int size : {16, 32}) {
            const QImage image = icon.pixmap(QSize(size, size)).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            const int opaque = OpaquePixels(image);
            // A glyph that reads at this size covers a fair part of the square but not all of it
            // (only the application icon is a filled tile).
            QVERIFY2(opaque >= size * size / 20,
                     qPrintable(QStringLiteral("%1 opaque pixels at %2").arg(opaque).arg(size)));
            if (name != QStringLiteral("orvex"))
                QVERIFY2(opaque < size * size * 9 / 10,
                         qPrintable(QStringLiteral("%1 opaque pixels at %2").arg(opaque).arg(size)));
        }
    }

    // Every file in the resources is one the window asks for, and no two commands look the same.
    void theSetIsCompleteAndDistinct()
    {
        (void)OrvexIcon(QStringLiteral("add")); // registers the resources
        const QStringList files = QDir(QStringLiteral(":/icons")).entryList(QDir::Files, QDir::Name);
        QStringList expected;
        for (const QString& name : kIconNames)
            expected << name + QStringLiteral(".svg");
        expected.sort();
        QCOMPARE(files, expected);

        QSet<QByteArray> seen;
        for (const QString& name : kIconNames) {
            const QImage image = OrvexIcon(name).pixmap(QSize(32, 32)).toImage();
            const QByteArray bits(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
            QVERIFY2(!seen.contains(bits), qPrintable(name + QStringLiteral(" looks like another icon")));
            seen.insert(bits);
        }
    }

    void namesWithoutOwnIconComeFromTheDesktopTheme()
    {
        QTemporaryDir themes;
        QVERIFY(themes.isValid());
        const QString themeDir = themes.path() + QStringLiteral("/orvex-test");
        QVERIFY(QDir().mkpath(themeDir + QStringLiteral("/16x16/actions")));
        QFile index(themeDir + QStringLiteral("/index.theme"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=orvex-test\nDirectories=16x16/actions\n\n"
                    "[16x16/actions]\nSize=16\nType=Fixed\n");
        index.close();
        QImage red(16, 16, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(themeDir + QStringLiteral("/16x16/actions/document-print.png")));

        const QStringList oldPaths = QIcon::themeSearchPaths();
        const QString oldTheme = QIcon::themeName();
        // Theme icons resolve again whenever the theme changes, so everything is looked at first.
        const auto restore = qScopeGuard([&] {
            QIcon::setThemeName(oldTheme);
            QIcon::setThemeSearchPaths(oldPaths);
        });
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName(QStringLiteral("orvex-test"));

        const QIcon themed = OrvexIcon(QStringLiteral("document-print"));
        QVERIFY(!themed.isNull());
        QCOMPARE(themed.pixmap(QSize(16, 16)).toImage().pixelColor(8, 8), QColor(Qt::red));
        QVERIFY(OrvexIcon(QStringLiteral("no-such-icon-anywhere")).isNull());

        // The program's own file wins over a theme icon of the same name.
        QVERIFY(red.save(themeDir + QStringLiteral("/16x16/actions/add.png")));
        const QImage own = OrvexIcon(QStringLiteral("add")).pixmap(QSize(16, 16)).toImage();
        QVERIFY(OpaquePixels(own) > 0);
        for (int y = 0; y < own.height(); ++y)
            for (int x = 0; x < own.width(); ++x)
                QVERIFY(own.pixelColor(x, y) != QColor(Qt::red));
    }
};

QTEST_MAIN(IconsTest)
#include "IconsTest.moc"
