// The clipboard's text between the program's 8-bit form, whose bytes 128-255 are Latin-1, and
// UTF-8. Pure. Not here: the selection traffic and which form a reply is in (clipboard.cpp).
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string utf8_of_latin1(std::string_view text);
// A character above U+00FF becomes one '?'. So does each byte that does not start a well-formed
// sequence (a stray continuation, a truncated, overlong or surrogate form, a code point beyond
// U+10FFFF); the byte after it is read afresh, so nothing that follows is lost.
std::string latin1_of_utf8(std::string_view text);

}  // namespace platform
