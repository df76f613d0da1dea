#pragma once

#include <QUrl>

class QWidget;

/// Hands `url` to the desktop's program for it (the web browser, the mail program). When the
/// desktop has none, says so over `parent` and puts the address on the clipboard, so that the user
/// can still paste it where it is wanted. False when nothing was opened.
bool OpenOnDesktop(QWidget* parent, const QUrl& url);
