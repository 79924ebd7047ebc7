// Windows code page 1252 (the writer's bytes) and UTF-8 (the desk's text), both ways, in one
// place for the mail reader and the sheet reader. Platform-free.
#pragma once

#include <string>
#include <string_view>

// The character of one code-page byte; 0 for the five bytes the code page leaves unassigned.
char32_t Cp1252Char(unsigned char byte);

// Appends code point `cp` as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// Bytes of Windows-1252 (a superset of ISO 8859-1's printable range) as UTF-8. The five
// unassigned bytes become U+FFFD.
std::string Windows1252ToUtf8(std::string_view bytes);

// UTF-8 back to Windows-1252; a character the code page lacks becomes "?" and makes the result
// false.
bool Utf8ToWindows1252(std::string_view text, std::string& out);

// The code points of a UTF-8 text; a broken sequence gives its lead byte as a code point.
std::u32string DecodeUtf8(std::string_view text);

// Whether `bytes` is well-formed UTF-8 (no overlongs, surrogates or code points past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
