// Whole command lines fed to the Win32 splitting rules. Checks what holds for
// every line: no argument is empty, none holds a double quote or a zero
// byte, a blank or control character only ever comes from a quoted run, and
// quoting every argument again gives the same arguments back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "system.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> words = SplitCommandLine(line);
  const std::string_view used = line.substr(0, line.find('\0'));
  const bool quoted = used.find('"') != std::string_view::npos;

  size_t total = 0;
  for (const std::string& word : words) {
    Check(!word.empty());
    Check(word.find('"') == std::string::npos);
    Check(word.find('\0') == std::string::npos);
    for (const char c : word) Check(quoted || static_cast<uint8_t>(c) > 32);
    total += word.size();
  }
  Check(total <= used.size());

  if (!quoted) {
    // Without quotes the arguments are exactly the runs of bytes above 32.
    std::vector<std::string> runs;
    std::string run;
    for (const char c : used) {
      if (static_cast<uint8_t>(c) > 32) {
        run += c;
      } else if (!run.empty()) {
        runs.push_back(std::move(run));
        run.clear();
      }
    }
    if (!run.empty()) runs.push_back(std::move(run));
    Check(runs == words);
  }

  std::string requoted;
  for (const std::string& word : words) requoted += " \"" + word + "\"";
  Check(SplitCommandLine(requoted) == words);
  return 0;
}
