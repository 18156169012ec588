#pragma once

#include <cstdint>
#include <string>

#include "register/CardMap.h"

// Fills `map` with `count` cards of plausible holders: Chinese names, house numbers,
// addresses and remarks in the register's code page, phones, identity numbers and fees.
// The same seed gives the same cards. Card numbers are spread over 000001 ... 999999, each
// taken once while `count` is at most 999,999 (then every number is taken).
void FillSampleCards(CCardMap& map, uint32_t count, uint32_t seed = 1);

// The same cards as the program has them after its start: written to a register file in
// `folder` and read back, so that records and texts lie as a load places them. False (with
// the reason on standard error) when the file cannot be written or read.
bool LoadSampleCards(CCardMap& map, uint32_t& maxNumber, uint32_t count, const std::string& folder);
