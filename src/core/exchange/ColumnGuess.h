#pragma once

#include "ExcelImport.h"

#include <optional>
#include <string_view>

/// The type a column heading names ("Target URL", "Source url", "Оплачено до"), with letter case,
/// spaces and punctuation ignored: a type; "Skip" for a heading known to name something else (a
/// crawler's "Last seen"); none for a heading the program does not know.
std::optional<int> HeadingColumnType(std::string_view heading);

/// The sheet's heading row: the first row that names a column, looked for no further down than
/// the first row that fills two cells or more; -1 when the sheet has none.
int FindHeadingRow(const ISpreadsheet& book, int sheet);

/// The text is a web address as people write them: with http:// or https://, from "www.", or a
/// bare domain with or without a path ("example.com", "shop.example.com/page").
bool LooksLikeWebAddress(std::string_view text);
