// What the spillet tests share: expected output, and archives built field by
// field so that malformed ones can be written as easily as sound ones.
#pragma once

#include <initializer_list>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

// Lines as spillet writes them, each followed by CR LF.
inline std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (const std::string_view line : lines) text.append(line).append("\r\n");
  return text;
}

// The failure report that ends a run, its address written as "########":
// the first line ends in a bare LF, the second in CR LF.
inline std::string Report(std::string_view message) {
  return "Exception EInOutError in module " + fs::path(SpilletPath()).filename().string() +
         " at ########.\n" + std::string(message) + "\r\n";
}

// The output with the report's address masked, to compare with Report().
inline std::string Masked(const std::string& output) {
  static const std::regex address("( at )[0-9A-F]{8}(\\.\n)");
  return std::regex_replace(output, address, "$1########$2");
}

// An archive with its index at offset 12 and `data` straight after the
// index's entries. The entries' offsets count from the start of `data`, and
// wrap as 32-bit fields do; count need not match the entries present.
inline std::string IndexedArchive(uint32_t count, std::vector<ArchiveEntry> entries,
                                  std::string_view data) {
  const auto dataStart = static_cast<uint32_t>(16 + 136 * entries.size());
  std::string archive = ArchiveHeader(12) + Le32(count);
  for (ArchiveEntry& entry : entries) {
    entry.offset += dataStart;
    archive += IndexEntryBytes(entry);
  }
  archive.append(data);
  return archive;
}
