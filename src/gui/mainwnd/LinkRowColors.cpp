#include "LinkRowColors.h"

#include "core/records/LinkStatus.h"

#include <QPalette>

namespace {

const QColor kProblemBackground(255, 0, 0);
const QColor kExpiringBackground(255, 180, 7);
const QColor kSelectedPlain(182, 202, 234);
const QColor kSelectedProblem(182, 37, 68);
const QColor kSelectedExpiring(182, 136, 68);

} // namespace

LinkRowColors GetLinkRowColors(uint32_t status, bool selected, bool focused, const QPalette& palette)
{
    if (selected && !focused)
        return {palette.color(QPalette::Button), palette.color(QPalette::ButtonText)};
    LinkRowColors colors;
    bool plain = false;
    if (status & StatusProblematicMask)
        colors = {kProblemBackground, Qt::white};
    else if (status & StatusExpiring)
        colors = {kExpiringBackground, Qt::black};
    else {
        colors = {palette.color(QPalette::Base), palette.color(QPalette::Text)};
        plain = true;
    }
    if (!selected)
        return colors;
    if (plain)
        colors.background = kSelectedPlain; // the text keeps the window colour on light blue
    else {
        colors.background = colors.background == kProblemBackground ? kSelectedProblem : kSelectedExpiring;
        colors.text = palette.color(QPalette::HighlightedText);
    }
    return colors;
}
