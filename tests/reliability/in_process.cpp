#include "in_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "system.h"

InProcessRun RunInProcess(int (*run)(), const std::filesystem::path& folder,
                          const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  char outputPattern[] = "/tmp/gobtest-inprocess-XXXXXX";
  const int outputFd = mkstemp(outputPattern);
  if (outputFd < 0) throw std::runtime_error("mkstemp failed");
  unlink(outputPattern);
  std::cout.flush();
  std::fflush(stdout);
  const int savedStdout = dup(STDOUT_FILENO);
  dup2(outputFd, STDOUT_FILENO);
  const std::filesystem::path savedFolder = std::filesystem::current_path();
  std::filesystem::current_path(folder);

  StartLayer(static_cast<int>(words.size()), argv.data());
  InProcessRun result;
  result.exitCode = run();

  std::filesystem::current_path(savedFolder);
  dup2(savedStdout, STDOUT_FILENO);
  close(savedStdout);
  lseek(outputFd, 0, SEEK_SET);
  char chunk[4096];
  ssize_t got;
  while ((got = read(outputFd, chunk, sizeof chunk)) > 0) {
    result.output.append(chunk, static_cast<size_t>(got));
  }
  close(outputFd);
  return result;
}
