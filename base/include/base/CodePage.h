#pragma once

#include <string>
#include <string_view>

// Conversions between the register's code page (GB2312 text, read as its superset GB18030)
// and Unicode. Nothing is ever dropped silently: what cannot be converted is marked.

// UTF-16LE code units (2 bytes each) to code-page bytes; an unpaired surrogate becomes '?'.
std::string Utf16leToCodePage(std::string_view utf16le);

// Code-page bytes to UTF-8 for one field of a text dump: tab, newline and backslash are written as
// \t, \n and \\, and a byte that starts no valid character as \xHH, so nothing is lost.
std::string CodePageToEscapedUtf8(std::string_view bytes);

// UTF-8 to code-page bytes; invalid UTF-8 becomes '?'.
std::string Utf8ToCodePage(std::string_view utf8);

// Code-page bytes to UTF-8; false (and `utf8` incomplete) at the first byte sequence that is no
// character of the code page.
bool CodePageToUtf8(std::string_view bytes, std::string& utf8);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsUtf8(std::string_view bytes);
