// Entry names fed to the check that keeps spillet inside its folder: a name
// it lets through must, resolved as Linux and as Windows would, stay below
// the folder it is extracted into.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "gob_format.h"

namespace {

// Windows drops trailing blanks of a path part, and a part made of dots
// alone counts as ".." as soon as it holds two.
bool IsParentOnWindows(std::string part) {
  while (!part.empty() && part.back() == ' ') part.pop_back();
  return part.size() >= 2 && part.find_first_not_of('.') == std::string::npos;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A name as spillet takes it from the name field: up to the first zero, at most 128 bytes.
  std::string name(reinterpret_cast<const char*>(data), size);
  name = name.substr(0, name.find('\0'));
  if (name.size() > static_cast<size_t>(MaxNameLength)) name.resize(MaxNameLength);
  if (IsUnsafeName(name)) return 0;

  std::string slashed = name;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  const std::filesystem::path resolved = std::filesystem::path(slashed).lexically_normal();
  Check(resolved.is_relative());
  Check(!resolved.has_root_name() && !resolved.has_root_directory());
  Check(resolved.empty() || *resolved.begin() != "..");
  // No drive: a letter and a colon first.
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  Check(!(slashed.size() >= 2 && isLetter(slashed[0]) && slashed[1] == ':'));
  size_t start = 0;
  for (;;) {
    const size_t end = slashed.find('/', start);
    Check(!IsParentOnWindows(slashed.substr(start, end - start)));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return 0;
}
