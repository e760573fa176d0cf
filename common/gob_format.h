// The GOB version 2 archive: a 16-byte header, an index of fixed-size
// entries, then the entries' data back to back. All integers are 32-bit
// little-endian; both programs treat them as signed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr int32_t MaxEntries = 8192;
constexpr int32_t MaxNameLength = 128;
constexpr int32_t TransferBlock = 64000;

constexpr std::array<uint8_t, 8> HeaderStart = {0x47, 0x4F, 0x42, 0x20, 0x14, 0x00, 0x00, 0x00};
constexpr int32_t HeaderSize = 16;
constexpr int32_t IndexOffset = 12;  // the count is the index's first field
constexpr int32_t IndexEntrySize = 136;
constexpr int32_t MaxArchiveSize = INT32_MAX;  // offsets are signed 32-bit fields

struct TArchiveHeader {
  std::array<uint8_t, 8> magicAndVersion = HeaderStart;
  int32_t indexOffset = IndexOffset;
  int32_t entryCount = 0;
};

struct TIndexEntry {
  int32_t offset = 0;
  int32_t size = 0;
  std::array<char, MaxNameLength> name{};  // zero-filled; no terminator at 128 characters
};

using Bytes4 = std::array<uint8_t, 4>;
using IndexEntryBytes = std::array<uint8_t, IndexEntrySize>;

Bytes4 EncodeInt32(int32_t value);
int32_t DecodeInt32(const uint8_t* bytes);

// The name field's text: its bytes up to the first zero, or all 128.
std::string NameOf(const TIndexEntry& entry);
// Fills the name field with the path and zero bytes; the path holds at most 128 characters.
void SetName(TIndexEntry& entry, std::string_view path);

IndexEntryBytes EncodeIndexEntry(const TIndexEntry& entry);
TIndexEntry DecodeIndexEntry(const IndexEntryBytes& bytes);

// A stored name that would lead outside the folder it is extracted into:
// absolute ("\" or "/" first), with a drive prefix ("C:"), or with a ".." part.
bool IsUnsafeName(std::string_view name);
