// What each platform's half of the layer gives the shared half (system.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace platform
