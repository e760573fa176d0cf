// The platform-independent half of the layer: argument splitting, texts,
// console buffering, the message table and the end of a run.
#include "system.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>

#include "system_platform.h"

// ---- Failures --------------------------------------------------------------

Exception::Exception(std::string message, uint32_t address)
    : message_(std::move(message)), address_(address) {}

EInOutError::EInOutError(int32_t code, uint32_t address)
    : Exception(MessageFor(code), address), code_(code) {}

EOutOfMemory::EOutOfMemory(uint32_t address) : Exception("Out of memory", address) {}

namespace {

struct ExitSignal {
  int32_t code;
};

struct MessageRow {
  int32_t code;
  const char* message;
};

constexpr std::array<MessageRow, 7> MessageTable = {{
    {2, "File not found"},
    {3, "Invalid filename"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {100, "Read beyond end of file"},
    {101, "Disk full"},
    {106, "Invalid numeric input"},
}};

// Addresses look like a 32-bit program's code addresses: above this base.
constexpr uint32_t CodeBase = 0x00401000;
constexpr uint32_t CodeSpan = 0x000FF000;

}  // namespace

std::string MessageFor(int32_t code) {
  for (const MessageRow& row : MessageTable) {
    if (row.code == code) return row.message;
  }
  return "I/O error " + FormatInteger(code);
}

uint32_t AddressOf(const Site& site) {
  // A stable hash of the calling file's base name and line, so the address
  // tells failure sites apart and stays the same from run to run.
  std::string_view file = site.file_name();
  const size_t slash = file.find_last_of("/\\");
  if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
  uint32_t hash = 2166136261u;
  const auto mix = [&hash](std::string_view bytes) {
    for (const char c : bytes) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  };
  mix(file);
  mix(":");
  mix(FormatInteger(static_cast<int32_t>(site.line())));
  return CodeBase + hash % CodeSpan;
}

void RaiseInOut(int32_t code, const Site& site) {
  throw EInOutError(code, AddressOf(site));
}

// ---- Command line and texts ------------------------------------------------

namespace {

std::vector<std::string> arguments;  // the program's own name first
bool startedOutOfMemory = false;     // the arguments could not be taken

// Memory held back while the layer runs and given up at the first failed
// allocation, so that the failure itself (the exception object, the
// report's texts) still finds room: without it, a process that meets its
// memory limit cannot even throw, and aborts instead of reporting.
// Taken with malloc, which fails without throwing.
constexpr size_t MemoryReserveSize = 64 * 1024;
void* memoryReserve = nullptr;
const char* startName = "";  // argv[0], for a report that cannot allocate

void GiveUpReserve() {
  std::free(memoryReserve);
  memoryReserve = nullptr;
  std::set_new_handler(nullptr);
  throw std::bad_alloc();
}

bool HoldReserve() {
  if (memoryReserve == nullptr) memoryReserve = std::malloc(MemoryReserveSize);
  if (memoryReserve == nullptr) return false;
  std::set_new_handler(GiveUpReserve);
  return true;
}

}  // namespace

void StartLayer(int argc, char** argv) {
  startName = argc > 0 ? argv[0] : "";
  startedOutOfMemory = !HoldReserve();
  if (startedOutOfMemory) return;
  // Not yet inside a run: a failure here is reported when the run starts.
  try {
    arguments = platform::StartProcess(argc, argv);
    startedOutOfMemory = false;
  } catch (const std::bad_alloc&) {
    arguments.clear();
    startedOutOfMemory = true;
  }
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  // The character 0 ends the command line, as does its end.
  const auto at = [commandLine](size_t i) -> uint8_t {
    return i < commandLine.size() ? static_cast<uint8_t>(commandLine[i]) : 0;
  };
  constexpr uint8_t Blank = 32;
  std::vector<std::string> words;
  size_t i = 0;
  for (;;) {
    for (;;) {
      while (at(i) >= 1 && at(i) <= Blank) ++i;
      if (at(i) == '"' && at(i + 1) == '"') {
        i += 2;  // an empty pair where an argument would begin makes none
        continue;
      }
      break;
    }
    std::string word;
    while (at(i) > Blank) {
      if (at(i) == '"') {
        ++i;
        while (at(i) != 0 && at(i) != '"') word += static_cast<char>(at(i++));
        if (at(i) == '"') ++i;
      } else {
        word += static_cast<char>(at(i++));
      }
    }
    if (word.empty()) break;
    words.push_back(std::move(word));
  }
  return words;
}

int32_t ArgumentCount() {
  return arguments.empty() ? 0 : static_cast<int32_t>(arguments.size() - 1);
}

std::string Argument(int32_t i, const Site& site) {
  if (i < 1 || i > ArgumentCount()) return {};
  const std::string& argument = arguments[static_cast<size_t>(i)];
  if (argument.size() > MaxArgumentLength) {
    // Cutting it would silently name another file.
    PutLine({"Error: Argument longer than 256 characters"}, site);
    ExitWith(1);
  }
  return argument;
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return upper;
}

// ---- Console ---------------------------------------------------------------

namespace {

constexpr size_t ConsoleBufferSize = 128;

struct Console {
  bool opened = false;
  bool immediate = false;
  std::array<char, ConsoleBufferSize> buffer{};
  size_t fill = 0;
};
Console console;

int32_t PassOn() {
  const size_t fill = console.fill;
  console.fill = 0;  // bytes that could not be written are not tried again
  return fill == 0 ? 0 : platform::ConsoleWrite(console.buffer.data(), fill);
}

}  // namespace

int32_t platform::PassOnConsole() {
  return PassOn();
}

std::string FormatInteger(int32_t value) {
  std::array<char, 12> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  return std::string(digits.data(), result.ptr);
}

void Piece::AppendTo(std::string& out) const {
  if (isNumber_) {
    out += FormatInteger(number_);
  } else {
    out += text_;
  }
}

void PutLine(std::initializer_list<Piece> pieces, const Site& site) {
  std::string line;
  for (const Piece& piece : pieces) piece.AppendTo(line);
  line += "\r\n";
  if (!console.opened) {
    const int32_t code = platform::ConsoleOpen(console.immediate);
    if (code != 0) RaiseInOut(code, site);
    console.opened = true;
  }
  size_t done = 0;
  while (done < line.size()) {
    const size_t room = ConsoleBufferSize - console.fill;
    const size_t take = std::min(room, line.size() - done);
    std::memcpy(console.buffer.data() + console.fill, line.data() + done, take);
    console.fill += take;
    done += take;
    if (console.fill == ConsoleBufferSize) {
      const int32_t code = PassOn();
      if (code != 0) RaiseInOut(code, site);
    }
  }
  if (console.immediate) {
    const int32_t code = PassOn();
    if (code != 0) RaiseInOut(code, site);
  }
}

void ExitWith(int32_t code) {
  throw ExitSignal{code};
}

// ---- Memory and the run ----------------------------------------------------

std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size, const Site& site) {
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
  if (!block) throw EOutOfMemory(AddressOf(site));
  return block;
}

namespace {
constexpr size_t MaxModuleName = 63;

std::array<char, 9> HexAddress(uint32_t address) {
  std::array<char, 9> digits{};
  constexpr char HexDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < 8; ++i) digits[i] = HexDigits[(address >> (28 - 4 * i)) & 0xF];
  return digits;
}
}  // namespace

std::string ModuleName() {
  std::string path = platform::ModulePath();
  const size_t separator = path.find_last_of("/\\");
  if (separator != std::string::npos) path.erase(0, separator + 1);
  if (path.size() > MaxModuleName) path.resize(MaxModuleName);
  return path;
}

std::string FormatFailureReport(const Exception& failure, std::string_view moduleName) {
  const std::array<char, 9> address = HexAddress(failure.Address());
  const std::string& message = failure.Message();
  const bool addDot = !message.empty() && message.back() != '.';
  return std::string("Exception ") + failure.KindName() + " in module " + std::string(moduleName) +
         " at " + address.data() + ".\n" + message + (addDot ? "." : "");
}

namespace {

// Bad allocations outside AllocateBuffer have no site of their own.
constexpr uint32_t UnplacedAddress = CodeBase;

int Report(const Exception& failure) {
  try {
    PutLine({FormatFailureReport(failure, ModuleName())});
  } catch (...) {
    // Standard output itself failed: the run still ends with code 1.
  }
  return 1;
}

// The report of a run that cannot even hold its memory reserve: nothing can
// be allocated or thrown, so it is put together in fixed storage, with the
// program's name as it was started.
int ReportWithoutMemory() {
  std::array<char, 160> text{};
  size_t length = 0;
  const auto append = [&text, &length](std::string_view piece) {
    const size_t take = std::min(piece.size(), text.size() - length);
    std::memcpy(text.data() + length, piece.data(), take);
    length += take;
  };
  std::string_view name = startName;
  const size_t separator = name.find_last_of("/\\");
  if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
  append("Exception EOutOfMemory in module ");
  append(name.substr(0, MaxModuleName));
  append(" at ");
  append(HexAddress(UnplacedAddress).data());
  append(".\nOut of memory.\r\n");
  platform::ConsoleWrite(text.data(), length);
  return 1;
}

}  // namespace

int RunGuarded(void (*job)()) {
  console = Console{};
  platform::ReleaseRun();
  if (!HoldReserve()) return ReportWithoutMemory();
  int code = 0;
  try {
    if (startedOutOfMemory) throw EOutOfMemory(UnplacedAddress);
    job();
  } catch (const ExitSignal& signal) {
    code = signal.code;
  } catch (const Exception& failure) {
    code = Report(failure);
  } catch (const std::bad_alloc&) {
    code = Report(EOutOfMemory(UnplacedAddress));
  }
  platform::ReleaseRun();
  // Lines that never reached standard output make the run a failure.
  if (PassOn() != 0 && code == 0) code = 1;
  return code;
}
