#pragma once

// Driving modal dialogs offscreen: what a test types runs from inside the dialog's own exec(),
// and the keyboard goes where a window manager would send it.

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <functional>
#include <initializer_list>

// Runs `act` on the first dialog of type D (that `which` accepts) once it is the modal window,
// from inside its exec(). A failed check closes whatever it leaves open, so that the test ends
// instead of waiting.
template <class D> void WhenShown(std::function<void(D*)> act, std::function<bool(D*)> which = {})
{
    QTimer::singleShot(10, [act, which] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        if (!dialog || (which && !which(dialog)))
            return WhenShown<D>(act, which);
        act(dialog);
        if (QTest::currentTestFailed())
            while (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                open->reject();
    });
}

// Runs `act` on the popup menu once it is open.
inline void WhenMenuOpen(std::function<void(QMenu*)> act)
{
    QTimer::singleShot(10, [act] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return WhenMenuOpen(act);
        act(menu);
        if (QTest::currentTestFailed())
            menu->close();
    });
}

// Makes `window` the active window, as a window manager would when the user clicks it; keys and
// mnemonics go nowhere before.
inline void Activate(QWidget* window)
{
    QTRY_VERIFY((window->activateWindow(), QApplication::activeWindow() == window));
}

// A key for the widget with the focus.
inline void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    // As a window manager would, a dialog that has just opened gets the keyboard.
    if (QWidget* dialog = QApplication::activeModalWidget(); dialog && !dialog->isActiveWindow()) {
        dialog->activateWindow();
        QTRY_VERIFY(dialog->isActiveWindow());
    }
    // A popup that has just closed hands the focus back a moment later.
    QTRY_VERIFY(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

inline void Type(const QString& text)
{
    QTest::keyClicks(QApplication::focusWidget(), text);
}

// The object name of the widget with the focus, "" for none.
inline QString Focused()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

// The child of `parent` by object name. A missing one ends the run at once, naming it, rather than
// a crash on a null widget.
template <class W = QWidget> W* Child(const QWidget* parent, const char* name)
{
    auto* child = parent->findChild<W*>(QLatin1String(name));
    if (!child)
        qFatal("%s has no %s", qPrintable(parent->objectName()), name);
    return child;
}

// The child of `parent` that a screen reader announces as `name`: the toolbar's filter boxes are
// known by that alone.
template <class W> W* Announced(const QWidget* parent, const QString& name)
{
    for (W* child : parent->findChildren<W*>())
        if (child->accessibleName() == name)
            return child;
    return nullptr;
}

inline QStringList Strs(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* text : texts)
        list << QString::fromUtf8(text);
    return list;
}

// The fields Tab visits, starting with the one that has the focus: `count` names.
inline QStringList TabChain(int count)
{
    QStringList chain;
    for (int i = 0; i < count; ++i) {
        chain << Focused();
        Press(Qt::Key_Tab);
    }
    return chain;
}

// The fields that labels name, by object name. Each is announced by its label's text, which the
// dialog gives it as its accessible name (or, with `qtNames`, which Qt takes from the label: it does
// for fields that can be typed into, not for a plain box, announced by its entry), and is reached
// by its label's mnemonic, which no other label or button uses.
inline QStringList LabelledFields(QWidget* dialog, bool qtNames = false)
{
    QStringList fields;
    QSet<QChar> mnemonics;
    const auto mnemonic = [&mnemonics](const QString& text, bool needed) {
        const qsizetype amp = QString(text).replace(QStringLiteral("&&"), QStringLiteral("__")).indexOf(u'&');
        const QChar key = amp >= 0 && amp + 1 < text.size() ? text[amp + 1].toLower() : QChar();
        if ((needed && key.isNull()) || (!key.isNull() && mnemonics.contains(key)))
            QTest::qFail(qPrintable(text + QStringLiteral(": no mnemonic of its own")), __FILE__, __LINE__);
        mnemonics.insert(key);
    };
    for (const QLabel* label : dialog->findChildren<QLabel*>()) {
        QWidget* field = label->buddy();
        if (!field)
            continue;
        mnemonic(label->text(), true);
        const QString spoken = QString(label->text()).remove(u'&');
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
        if (field->accessibleName() != spoken &&
            !(qtNames && accessible && accessible->text(QAccessible::Name) == spoken))
            QTest::qFail(qPrintable(field->objectName() + QStringLiteral(" is not announced as ") + spoken), __FILE__,
                         __LINE__);
        fields << field->objectName();
    }
    for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        mnemonic(button->text(), false);
    return fields;
}
