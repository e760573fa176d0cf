// The one layer through which both programs reach the system: arguments,
// console lines, checked files, folder listing, and the end of a run.
// A checked operation either does exactly what was asked or raises
// EInOutError; the failure is caught once, by RunGuarded, which writes the
// failure report. Implemented in system.cpp (shared), and system_posix.cpp or
// system_win32.cpp (the platform halves).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Where a checked operation was called from; it becomes the report's address.
// Made from the compilers' builtins, as std::source_location is: clang 14
// cannot build the standard library's version.
class Site {
 public:
  // In a default argument, the place of the call that uses the default.
  static constexpr Site current(const char* file = __builtin_FILE(),
                                uint32_t line = __builtin_LINE()) {
    return Site(file, line);
  }
  constexpr const char* file_name() const { return file_; }
  constexpr uint32_t line() const { return line_; }

 private:
  constexpr Site(const char* file, uint32_t line) : file_(file), line_(line) {}
  const char* file_;
  uint32_t line_;
};

// ---- Failure kinds ---------------------------------------------------------

class Exception {
 public:
  Exception(std::string message, uint32_t address);
  virtual ~Exception() = default;
  virtual const char* KindName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  uint32_t Address() const { return address_; }

 private:
  std::string message_;
  uint32_t address_;
};

class EInOutError : public Exception {
 public:
  EInOutError(int32_t code, uint32_t address);
  const char* KindName() const override { return "EInOutError"; }
  int32_t Code() const { return code_; }

 private:
  int32_t code_;
};

class EOutOfMemory : public Exception {
 public:
  explicit EOutOfMemory(uint32_t address);
  const char* KindName() const override { return "EOutOfMemory"; }
};

// Error codes the layer raises (the Win32 numbers, whatever the host).
namespace ErrorCode {
constexpr int32_t FileNotFound = 2;
constexpr int32_t PathNotFound = 3;
constexpr int32_t TooManyOpenFiles = 4;
constexpr int32_t AccessDenied = 5;
constexpr int32_t InvalidHandle = 6;
constexpr int32_t NoMoreFiles = 18;
constexpr int32_t GeneralFailure = 31;
constexpr int32_t SharingViolation = 32;
constexpr int32_t ReadPastEnd = 100;
constexpr int32_t ShortWrite = 101;
constexpr int32_t FileNotOpen = 103;
constexpr int32_t OutputUnusable = 105;
constexpr int32_t DiskFull = 112;
constexpr int32_t InvalidName = 123;
constexpr int32_t NegativeSeek = 131;
constexpr int32_t FileNameTooLong = 206;
constexpr int32_t BrokenPipe = 232;
constexpr int32_t IoDevice = 1117;
constexpr int32_t LinkLoop = 1921;
}  // namespace ErrorCode

// The message of an EInOutError code ("File not found", "I/O error 32").
std::string MessageFor(int32_t code);

[[noreturn]] void RaiseInOut(int32_t code, const Site& site);
uint32_t AddressOf(const Site& site);

// ---- Command line and texts ----------------------------------------------

constexpr size_t MaxArgumentLength = 256;

// Takes the arguments of this run: argv on POSIX, the process's command line on Win32.
void StartLayer(int argc, char** argv);
// Splits a whole command line; the first element is the program's own name.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
int32_t ArgumentCount();
// The i-th argument (from 1), empty beyond the count. An argument longer than
// MaxArgumentLength ends the run with a message and exit code 1.
std::string Argument(int32_t i, const Site& site = Site::current());
std::string UpperAscii(std::string_view text);

// ---- Console and end of run ------------------------------------------------

class Piece {
 public:
  Piece(const char* text) : text_(text) {}
  Piece(std::string_view text) : text_(text) {}
  Piece(const std::string& text) : text_(text) {}
  Piece(int32_t number) : isNumber_(true), number_(number) {}
  void AppendTo(std::string& out) const;

 private:
  std::string_view text_;
  bool isNumber_ = false;
  int32_t number_ = 0;
};

std::string FormatInteger(int32_t value);
void PutLine(std::initializer_list<Piece> pieces = {}, const Site& site = Site::current());
[[noreturn]] void ExitWith(int32_t code);

// ---- Checked files ---------------------------------------------------------

constexpr size_t MaxPathLength = 259;

struct TCheckedFile {
  std::string name;
  bool open = false;
  intptr_t handle = -1;
  bool standard = false;
  std::string temporaryPath;  // set while the file is an unfinished replacement
  std::string targetPath;     // what the temporary replaces when committed
};

// Opens an existing file for reading; an empty name is standard input.
void OpenExisting(TCheckedFile& file, std::string_view name, const Site& site = Site::current());
// Creates or empties a file and opens it for writing; an empty name is standard output.
void CreateFresh(TCheckedFile& file, std::string_view name, const Site& site = Site::current());
// Fails as CreateFresh would on the target, then opens a new temporary file
// beside it. The target is untouched until CommitTemporary; a run that ends
// without committing removes the temporary file.
void CreateTemporary(TCheckedFile& file, std::string_view target,
                     const Site& site = Site::current());
// Closes the temporary file and puts it in place of its target.
void CommitTemporary(TCheckedFile& file, const Site& site = Site::current());
void ReadExact(TCheckedFile& file, void* buffer, int32_t count, const Site& site = Site::current());
void WriteExact(TCheckedFile& file, const void* buffer, int32_t count,
                const Site& site = Site::current());
void SeekTo(TCheckedFile& file, int32_t position, const Site& site = Site::current());
// Moves count bytes from one file's position to the other's, with the outcome
// and failures of ReadExact into the buffer, which holds at least count bytes,
// then WriteExact from it. The system may copy without the buffer.
void CopyExact(TCheckedFile& from, TCheckedFile& to, uint8_t* buffer, int32_t count,
               const Site& site = Site::current());
void CloseChecked(TCheckedFile& file, const Site& site = Site::current());

// ---- Folder listing, folder creation, existence ----------------------------

constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faVolumeId = 0x08;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;
constexpr uint32_t faAnyFile = 0x3F;
// Beyond the system's bits: entries that are neither a file nor a folder
// (a broken link, a FIFO, a socket, a device), and folders that are reached
// through a link and lead back into a listing still open (a loop).
constexpr uint32_t faNotRegular = 0x00010000;
constexpr uint32_t faLinkLoop = 0x00020000;

struct SearchState;  // the listing in progress; defined by each platform

struct TSearchRec {
  uint32_t attr = 0;
  int32_t size = 0;       // the low 32 bits of the size
  uint32_t sizeHigh = 0;  // the high 32 bits
  std::string name;
  uint32_t time = 0;
  uint32_t excludeAttr = 0;
  std::unique_ptr<SearchState> listing;

  TSearchRec();
  ~TSearchRec();
  TSearchRec(const TSearchRec&) = delete;
  TSearchRec& operator=(const TSearchRec&) = delete;
};

// 0 when an entry was found, otherwise the system's error code.
int32_t SearchFirst(std::string_view pattern, uint32_t attributes, TSearchRec& rec);
int32_t SearchNext(TSearchRec& rec);
void SearchClose(TSearchRec& rec);
bool MakeFolder(std::string_view name);
bool IsExistingFile(std::string_view name);
// True when both names lead to one existing folder, whatever the letter case
// or links on the way.
bool IsSameFolder(std::string_view first, std::string_view second);
// True when a file of that relative name, and the folders on its way, would
// be made below the current folder: false for an absolute name, a ".." part,
// or a link on the way (or at the end) that leads elsewhere.
bool IsBelowCurrentFolder(std::string_view name);

// ---- Memory and the run ----------------------------------------------------

// A block of the given size, or EOutOfMemory.
std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size, const Site& site = Site::current());

// The report of a failure that ends a run, as it is written (without CR LF).
std::string FormatFailureReport(const Exception& failure, std::string_view moduleName);
std::string ModuleName();

// Runs a program's job: every failure it raises ends here with the failure
// report; ExitWith ends here with its code. Passes standard output on and
// returns the exit code, which only main hands to the system.
int RunGuarded(void (*job)());
