// Fixed texts of numeric codes, kept as tables of (code, text) rows: each
// component keeps its own table, since the same number reads differently in
// different places.
#pragma once

#include <cstddef>

struct CodeText {
    int code;
    const char *text;
};

// The text of code in rows, or nullptr when the table does not hold it.
template <std::size_t N>
const char *FindCodeText(const CodeText (&rows)[N], int code)
{
    for (const auto &r : rows)
        if (r.code == code)
            return r.text;
    return nullptr;
}
