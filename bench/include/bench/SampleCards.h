#pragma once

#include <cstdint>

#include "register/CardMap.h"

// Fills `map` with `count` cards of plausible holders: Chinese names, house numbers,
// addresses and remarks in the register's code page, phones, identity numbers and fees.
// The same seed gives the same cards. Card numbers are spread over 000001 ... 999999, each
// taken once while `count` is at most 999,999 (then every number is taken).
void FillSampleCards(CCardMap& map, uint32_t count, uint32_t seed = 1);
