#include "gob_format.h"

#include <algorithm>
#include <cstring>

Bytes4 EncodeInt32(int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  return {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
          static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
}

int32_t DecodeInt32(const uint8_t* bytes) {
  const uint32_t bits = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                        uint32_t{bytes[3]} << 24;
  return static_cast<int32_t>(bits);
}

std::string NameOf(const TIndexEntry& entry) {
  const auto end = std::find(entry.name.begin(), entry.name.end(), '\0');
  return std::string(entry.name.begin(), end);
}

void SetName(TIndexEntry& entry, std::string_view path) {
  entry.name.fill('\0');
  std::copy_n(path.begin(), std::min<size_t>(path.size(), entry.name.size()), entry.name.begin());
}

IndexEntryBytes EncodeIndexEntry(const TIndexEntry& entry) {
  IndexEntryBytes bytes{};
  const Bytes4 offset = EncodeInt32(entry.offset);
  const Bytes4 size = EncodeInt32(entry.size);
  std::copy(offset.begin(), offset.end(), bytes.begin());
  std::copy(size.begin(), size.end(), bytes.begin() + 4);
  std::memcpy(bytes.data() + 8, entry.name.data(), entry.name.size());
  return bytes;
}

TIndexEntry DecodeIndexEntry(const IndexEntryBytes& bytes) {
  TIndexEntry entry;
  entry.offset = DecodeInt32(bytes.data());
  entry.size = DecodeInt32(bytes.data() + 4);
  std::memcpy(entry.name.data(), bytes.data() + 8, entry.name.size());
  return entry;
}

bool IsUnsafeName(std::string_view name) {
  if (name.empty()) return false;
  if (name.front() == '\\' || name.front() == '/') return true;
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') return true;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = name.find_first_of("\\/", start);
    const std::string_view part =
        name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // Windows drops trailing dots and blanks, so "..." and ".. " mean ".." there.
    if (part.find("..") != std::string_view::npos &&
        part.find_first_not_of(". ") == std::string_view::npos)
      return true;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return false;
}
