#include "NumberFormat.h"

#include <utility>

// The formats a workbook names by number only; kept apart from the formatter, which never needs
// to know where a code came from.
namespace NumberFormat {

std::string_view BuiltInCode(unsigned id)
{
    // The codes the files leave out, as an English (United States) installation shows them.
    static constexpr std::pair<unsigned, std::string_view> kCodes[] = {
        {0, "General"},
        {1, "0"},
        {2, "0.00"},
        {3, "#,##0"},
        {4, "#,##0.00"},
        {5, "$#,##0_);($#,##0)"},
        {6, "$#,##0_);[Red]($#,##0)"},
        {7, "$#,##0.00_);($#,##0.00)"},
        {8, "$#,##0.00_);[Red]($#,##0.00)"},
        {9, "0%"},
        {10, "0.00%"},
        {11, "0.00E+00"},
        {12, "# ?/?"},
        {13, "# ?"
             "?/?"
             "?"}, // split so no trigraph forms
        {14, "m/d/yyyy"},
        {15, "d-mmm-yy"},
        {16, "d-mmm"},
        {17, "mmm-yy"},
        {18, "h:mm AM/PM"},
        {19, "h:mm:ss AM/PM"},
        {20, "h:mm"},
        {21, "h:mm:ss"},
        {22, "m/d/yyyy h:mm"},
        {37, "#,##0_);(#,##0)"},
        {38, "#,##0_);[Red](#,##0)"},
        {39, "#,##0.00_);(#,##0.00)"},
        {40, "#,##0.00_);[Red](#,##0.00)"},
        {41, "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)"},
        {42, "_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)"},
        {43, "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)"},
        {44, "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"??_);_(@_)"},
        {45, "mm:ss"},
        {46, "[h]:mm:ss"},
        {47, "mm:ss.0"},
        {48, "##0.0E+0"},
        {49, "@"},
    };
    for (const auto& [code, text] : kCodes)
        if (code == id)
            return text;
    // The East Asian date ids show the short date where their calendars are not installed.
    if ((id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return "m/d/yyyy";
    return {};
}

bool IsBuiltInDate(unsigned id)
{
    return (id >= 14 && id <= 22) || (id >= 45 && id <= 47) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58);
}

} // namespace NumberFormat
