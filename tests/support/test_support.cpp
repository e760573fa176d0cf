#include "test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "gobtest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Read-only folders inside would keep their contents from being removed.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

namespace {

std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : fallback;
}

}  // namespace

std::string BundraPath() {
  return FromEnvironment("BUNDRA_EXE", BUNDRA_PATH);
}
std::string SpilletPath() {
  return FromEnvironment("SPILLET_EXE", SPILLET_PATH);
}

bool TargetIsWindows() {
  return FromEnvironment("TEST_TARGET", "") == "windows";
}

std::string HostName(std::string_view programBytes) {
  if (!TargetIsWindows()) return std::string(programBytes);
  std::string utf8;
  for (const char c : programBytes) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else if (byte >= 0xA0) {
      // Code page 1252 agrees with Latin-1 from 0xA0 up: two UTF-8 bytes.
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    } else {
      throw std::invalid_argument("HostName: bytes 0x80-0x9F are not supported");
    }
  }
  return utf8;
}

namespace {

void SetLimit(int resource, uint64_t value) {
  const rlimit limit{value, value};
  setrlimit(resource, &limit);
}

// Waits for the child; past hangSeconds (when set) it is killed. Nothing when killed.
std::optional<int> WaitFor(pid_t child, int hangSeconds) {
  int status = 0;
  if (hangSeconds == 0) {
    waitpid(child, &status, 0);
    return status;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(hangSeconds);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return status;
}

}  // namespace

RunResult RunProgramWithLimits(const std::string& program, const fs::path& folder,
                               const std::vector<std::string>& arguments, Output output,
                               const ResourceLimits& limits) {
  std::vector<std::string> command;
  const std::string launcher = FromEnvironment("TEST_LAUNCHER", "");
  if (!launcher.empty()) command.push_back(launcher);
  command.push_back(program);
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  char outputPattern[] = "/tmp/gobtest-output-XXXXXX";
  const int outputFd = mkstemp(outputPattern);
  unlink(outputPattern);
  int pipeFds[2] = {-1, -1};
  const bool usesPipe = output == Output::Pipe || output == Output::BrokenPipe;
  if (usesPipe && pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  if (output == Output::BrokenPipe) {
    // Nobody will ever read: every write to the pipe fails.
    close(pipeFds[0]);
    pipeFds[0] = -1;
  }
  const bool limited = limits.fileSize != 0 || limits.openFiles != 0 || limits.addressSpace != 0;

  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    const int nullFd = open("/dev/null", O_RDONLY);
    dup2(nullFd, STDIN_FILENO);
    if (limited) dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
    if (output == Output::File) dup2(outputFd, STDOUT_FILENO);
    if (usesPipe) dup2(pipeFds[1], STDOUT_FILENO);
    if (output == Output::Closed) close(STDOUT_FILENO);
    if (output == Output::DevNull) dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
    if (pipeFds[0] >= 0) close(pipeFds[0]);
    if (limits.fileSize != 0) {
      // A write past the limit then fails with EFBIG instead of killing the program.
      signal(SIGXFSZ, SIG_IGN);
      SetLimit(RLIMIT_FSIZE, limits.fileSize);
    }
    if (limits.openFiles != 0) {
      // Only the standard descriptors count against the limit.
      close_range(3, ~0u, 0);
      SetLimit(RLIMIT_NOFILE, limits.openFiles);
    }
    if (limits.addressSpace != 0) SetLimit(RLIMIT_AS, limits.addressSpace);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  RunResult result;
  if (output == Output::Pipe) {
    close(pipeFds[1]);
    result.output = ReadAll(pipeFds[0]);
    close(pipeFds[0]);
  }
  if (output == Output::BrokenPipe) close(pipeFds[1]);
  const std::optional<int> status = WaitFor(child, limits.hangSeconds);
  if (!status) {
    close(outputFd);
    result.exitCode = -2;
    return result;
  }
  result.exitCode = WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
  if (output == Output::File) {
    lseek(outputFd, 0, SEEK_SET);
    result.output = ReadAll(outputFd);
  }
  close(outputFd);
  return result;
}

std::string ReadAll(int fd) {
  std::string bytes;
  char chunk[4096];
  ssize_t got;
  while ((got = read(fd, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(got));
  return bytes;
}

StdoutRedirect::StdoutRedirect(int target) {
  std::cout.flush();
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  dup2(target, STDOUT_FILENO);
}

StdoutRedirect::~StdoutRedirect() {
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
}

std::string CaptureStdout(const std::function<void()>& work) {
  char pattern[] = "/tmp/gobtest-stdout-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(pattern);
  {
    const StdoutRedirect redirect(fd);
    work();
  }
  lseek(fd, 0, SEEK_SET);
  std::string bytes = ReadAll(fd);
  close(fd);
  return bytes;
}

RunResult RunProgram(const std::string& program, const fs::path& folder,
                     const std::vector<std::string>& arguments, Output output) {
  return RunProgramWithLimits(program, folder, arguments, output, {});
}

RunResult RunBundra(const fs::path& folder, const std::vector<std::string>& arguments,
                    Output output) {
  return RunProgram(BundraPath(), folder, arguments, output);
}

RunResult RunSpillet(const fs::path& folder, const std::vector<std::string>& arguments,
                     Output output) {
  return RunProgram(SpilletPath(), folder, arguments, output);
}

void WriteFile(const fs::path& path, std::string_view contents) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::string PatternBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string Banner(std::string_view title) {
  const std::string indent(26, ' ');
  return std::string(title) + "\r\n" + "Free software by the Bundra and Spillet developers\r\n" +
         indent + "e-mail: maintainers@bundra.invalid\r\n" + indent +
         "home page: https://bundra.invalid/\r\n" + "\r\n";
}

std::string BundraBanner() {
  return Banner("Veskmoor LA Bundra 2.0");
}
std::string SpilletBanner() {
  return Banner("Veskmoor LA Spillet 2.0");
}

std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string ArchiveHeader(uint32_t indexOffset) {
  return std::string("GOB \x14\0\0\0", 8) + Le32(indexOffset);
}

std::string IndexEntryBytes(const ArchiveEntry& entry) {
  std::string name = entry.nameField;
  name.resize(128, '\0');
  return Le32(entry.offset) + Le32(entry.size) + name;
}

std::string BuildArchive(const std::vector<std::pair<std::string, std::string>>& files) {
  std::string archive = ArchiveHeader(12) + Le32(static_cast<uint32_t>(files.size()));
  uint32_t offset = 16 + 136 * static_cast<uint32_t>(files.size());
  for (const auto& [name, data] : files) {
    archive += IndexEntryBytes({offset, static_cast<uint32_t>(data.size()), name});
    offset += static_cast<uint32_t>(data.size());
  }
  for (const auto& file : files) archive += file.second;
  return archive;
}

std::vector<std::pair<std::string, std::string>> TreeContents(const fs::path& root) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files.emplace_back(fs::relative(entry.path(), root).generic_string(), ReadFile(entry.path()));
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

RunResult RunBundraWithFileLimit(const fs::path& folder, const std::vector<std::string>& arguments,
                                 uint64_t maxFileBytes) {
  return RunProgramWithLimits(BundraPath(), folder, arguments, Output::File,
                              {.fileSize = maxFileBytes});
}

RunResult RunBundraWithOpenFileLimit(const fs::path& folder,
                                     const std::vector<std::string>& arguments, uint64_t maxOpen) {
  return RunProgramWithLimits(BundraPath(), folder, arguments, Output::File,
                              {.openFiles = maxOpen});
}

std::string ModuleFileName(const std::string& program) {
  return fs::path(program).filename().string();
}

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

testing::AssertionResult IsFailureReport(const std::string& output, const std::string& before,
                                         const std::string& module, const std::string& message,
                                         std::string* address) {
  const std::string head = before + "Exception EInOutError in module " + module + " at ";
  const std::string tail = ".\n" + message + "\r\n";
  const auto failure = [&output]() {
    return testing::AssertionFailure() << "output was:\n" << testing::PrintToString(output);
  };
  if (output.size() != head.size() + 8 + tail.size()) return failure();
  if (output.compare(0, head.size(), head) != 0) return failure();
  if (output.compare(head.size() + 8, tail.size(), tail) != 0) return failure();
  const std::string digits = output.substr(head.size(), 8);
  if (digits.find_first_not_of("0123456789ABCDEF") != std::string::npos) return failure();
  if (address != nullptr) *address = digits;
  return testing::AssertionSuccess();
}
