#pragma once

#include <QColor>

#include <cstdint>

class QPalette;

/// Row colours for a link's status; `selected`/`focused` give the variants the list draws a
/// selection in.
struct LinkRowColors
{
    QColor background;
    QColor text;
};
LinkRowColors GetLinkRowColors(uint32_t status, bool selected, bool focused, const QPalette& palette);
