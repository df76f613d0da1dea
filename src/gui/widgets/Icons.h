#pragma once

#include <QIcon>
#include <QString>

/// The program's own icon named `name` (":/icons/<name>.svg", e.g. "add", "check-all", "orvex"),
/// or the desktop theme's nearest icon when the program has none of that name. Null when neither
/// exists.
QIcon OrvexIcon(const QString& name);
