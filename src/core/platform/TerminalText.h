#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// What the command-line forms print comes in good part from partner pages, their servers and
// spreadsheets: a terminal must show that text, never obey it.

/// `text` with every control character shown as a visible escape: C0 controls and DEL as "\x1B",
/// C1 controls as "\u009B", the bidirectional embeddings, overrides and isolates as "\u202E", and
/// a byte that is no part of a UTF-8 character as "\xFF". Line ends (LF) and tabs stay, the
/// reports' own layout; all other text stays as it is.
std::string EscapeControls(std::string_view text);

/// printf to `stream`, the result through EscapeControls: how the command-line forms write.
void PrintEscaped(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
