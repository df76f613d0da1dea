#pragma once

// Driving modal dialogs offscreen: what a test types runs from inside the dialog's own exec(),
// and the keyboard goes where a window manager would send it.

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <functional>

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
