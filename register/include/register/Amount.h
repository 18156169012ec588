#pragma once

#include <optional>
#include <string>
#include <string_view>

// The sum of two money amounts as the form writes them ("12", "12.5"; an empty text counts as
// nothing paid), exact in decimal, without trailing zeros after the point. None when either
// text is not an amount or the sum needs more than `maxChars` characters.
std::optional<std::string> AddAmounts(std::string_view paid, std::string_view more,
                                      size_t maxChars);
