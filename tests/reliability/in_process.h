// Runs a whole program run inside the test process: in a folder, with a
// command line, standard output caught in a file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The programs' whole runs (packer.h and unpacker.h), declared here because
// packer.h's archive records share names with the test helpers.
int RunPacker();
int RunUnpacker();

struct InProcessRun {
  int exitCode = -1;
  std::string output;
};

// run is RunPacker or RunUnpacker; program is the name given as argv[0].
InProcessRun RunInProcess(int (*run)(), const std::filesystem::path& folder,
                          const std::string& program, const std::vector<std::string>& arguments);
