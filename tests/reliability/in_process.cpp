#include "in_process.h"

#include "system.h"
#include "test_support.h"

InProcessRun RunInProcess(int (*run)(), const std::filesystem::path& folder,
                          const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const std::filesystem::path savedFolder = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  StartLayer(static_cast<int>(words.size()), argv.data());
  InProcessRun result;
  result.output = CaptureStdout([&] { result.exitCode = run(); });
  std::filesystem::current_path(savedFolder);
  return result;
}
