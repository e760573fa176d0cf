#include "limited_run.h"

#include <regex>

namespace {
constexpr int HangSeconds = 60;

// RLIM_INFINITY stands for no limit here, 0 in the shared launcher.
uint64_t LimitOf(rlim_t value) {
  return value == RLIM_INFINITY ? 0 : value;
}

Output OutputOf(Stdout output) {
  switch (output) {
    case Stdout::Closed:
      return Output::Closed;
    case Stdout::BrokenPipe:
      return Output::BrokenPipe;
    case Stdout::File:
      break;
  }
  return Output::File;
}
}  // namespace

RunResult RunLimited(const std::string& program, const fs::path& folder,
                     const std::vector<std::string>& arguments, Limits limits, Stdout output) {
  return RunProgramWithLimits(program, folder, arguments, OutputOf(output),
                              {.fileSize = LimitOf(limits.fileSize),
                               .addressSpace = LimitOf(limits.addressSpace),
                               .hangSeconds = HangSeconds});
}

std::string ReportMessage(const std::string& output) {
  static const std::regex report(
      "Exception (EInOutError|EOutOfMemory) in module [^ ]+ at [0-9A-F]{8}\\.\n([^\r\n]*)\r\n$");
  std::smatch match;
  return std::regex_search(output, match, report) ? match[2].str() : "";
}
