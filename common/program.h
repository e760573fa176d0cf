// Steps that both programs take in the same way.
#pragma once

#include <cstdint>
#include <string_view>

#include "system.h"

// The title line, the three attribution lines and an empty line.
void WriteBanner(std::string_view title);

// Copies size bytes from one file's position to the other's, in whole
// TransferBlock blocks and then the remainder, each block read then written.
// A size below 1 copies nothing.
void CopyData(TCheckedFile& from, TCheckedFile& to, int32_t size, uint8_t* buffer);
