#pragma once

#include <string_view>

// Exactly n characters, each '0'..'9'. Bytes are compared as signed chars, so any byte of
// 0x80 or above (part of a Chinese character) fails.
bool IsDigits(std::string_view text, int n);

// A money amount of exactly n characters: no leading '0', digits only, except for at most
// one '.' that is neither the first nor the last character.
bool IsAmount(std::string_view text, int n);
