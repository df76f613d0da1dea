#pragma once

#include <string>
#include <string_view>

/// The spreadsheet number-format codes a workbook gives its cells ("#,##0.00", "[$$-409]#,##0.00",
/// "d-mmm-yy", ...), applied the way a spreadsheet shows a value. Values are serial numbers: a date
/// is days since 30 December 1899 with the time of day as the fraction.
namespace NumberFormat {

/// The code of a built-in format id of the Office Open XML and BIFF files; empty when unknown.
std::string_view BuiltInCode(unsigned id);

/// Whether the built-in format id shows a date or a time.
bool IsBuiltInDate(unsigned id);

/// Whether the code shows a date or a time: day, month, year, hour or second parts outside quoted
/// text, escapes and brackets ("General" and number codes are not).
bool IsDateCode(std::string_view code);

/// The value the way the code shows it. An empty code and "General" give the General rendering.
std::string Format(double value, std::string_view code);

/// General: integers without a decimal point, otherwise as many digits as fit eleven characters,
/// switching to "1.23457E+11" when the value is too large or too small for that.
std::string General(double value);

} // namespace NumberFormat
