// Runs a built program in a child process under resource limits.
#pragma once

#include <sys/resource.h>

#include <string>
#include <vector>

#include "test_support.h"

enum class Stdout { File, Closed, BrokenPipe };

struct Limits {
  rlim_t fileSize = RLIM_INFINITY;
  rlim_t addressSpace = RLIM_INFINITY;
};

// Standard output goes to a file (returned), is closed, or is a pipe that
// nobody reads. A run that does not end within a minute is killed and gives
// the exit code -2.
RunResult RunLimited(const std::string& program, const fs::path& folder,
                     const std::vector<std::string>& arguments, Limits limits,
                     Stdout output = Stdout::File);

// The message of the failure report that ends the output, or "" without one.
std::string ReportMessage(const std::string& output);

// AddressSanitizer reserves terabytes of address space: no address-space limit fits it.
constexpr bool UnderAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}
