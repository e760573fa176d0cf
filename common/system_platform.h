// What each platform's half of the layer gives the shared half (system.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "system.h"

namespace platform {

// Prepares the process and gives the arguments of the run, the program's own name first.
std::vector<std::string> StartProcess(int argc, char** argv);
// Takes standard output: 0, or the error code; immediate is set for a character device.
int32_t ConsoleOpen(bool& immediate);
// Writes all bytes to standard output: 0, or the error code.
int32_t ConsoleWrite(const char* data, size_t size);
// The running program's file path, as the system gives it.
std::string ModulePath();
// Ends what a run left behind, as the end of the process would: removes
// every temporary file that was not committed, closes the files still open
// and forgets the run's caches, so that the next run in this process starts clean.
void ReleaseRun();

// Given by the shared half: passes on what the console buffer holds; 0, or the error code.
int32_t PassOnConsole();

// The system operations at which a test can make the layer fail.
enum class Operation : uint32_t {
  Open = 1u << 0,        // opening or creating a file
  Read = 1u << 1,        // reading from a file
  Write = 1u << 2,       // writing to a file
  Seek = 1u << 3,        // setting a file's position
  Close = 1u << 4,       // closing a file
  Rename = 1u << 5,      // putting a finished file in place
  MakeFolder = 1u << 6,  // creating a folder
  List = 1u << 7,        // reading a folder's entries
  Console = 1u << 8,     // writing to standard output
};
// What InjectedFault answers for a read or write that is to move fewer bytes than asked.
constexpr int32_t ShortTransfer = -1;
// Given by the shared half; the platform half calls it before each such
// operation. 0 in every normal run. Under a test's fault plan: the error code
// the operation is to fail with instead of running, or ShortTransfer.
int32_t InjectedFault(Operation operation);
// Raises the error that a test planned for this operation, if any.
void CheckInjected(Operation operation, const Site& site);
// The byte count a transfer asks the system for: fewer under a planned short
// transfer; raises any other planned error.
int32_t InjectedCount(Operation operation, int32_t count, const Site& site);
// Whether a test's fault plan is set: the platform half then takes no path
// that moves data without the counted reads and writes.
bool FaultsPlanned();

}  // namespace platform
