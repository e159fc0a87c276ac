// One staged operation as a line of text, as the manifest and the commit
// journal keep it: a letter, the path and, for some letters, a second path or
// link text, separated by single blanks. A blank, tab, newline or backslash
// inside a field is written as \040, \011, \012 or \134, so that every path
// survives being written and read back (doc/package_format.md).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The line for `letter` and its fields, without the newline; an empty
// `second` is left out ("U path" carries no second field).
std::string formatOpLine(char letter, std::string_view path, std::string_view second = {});
// The same line appended to `out`.
void appendOpLine(std::string* out, char letter, std::string_view path, std::string_view second = {});
// The length of that line, without making it.
size_t opLineSize(char letter, std::string_view path, std::string_view second = {});

// Splits a line (without its newline) into its letter and fields. False when
// the line is not one letter followed by `fieldCount` fields, or holds a NUL.
bool parseOpLine(const std::string& line, int fieldCount, char* letter, std::string* path, std::string* second);

// How many fields a manifest line with this letter carries (U 1, L and M 2);
// -1 for a letter the manifest does not know.
int manifestFieldCount(char letter);
