// The Win32 half of the layer. Here the system is the one the programs were
// made for: its own letter-case rules, separators, listing order and share
// modes apply as they are. Each operation makes each system call in one
// place, and turns a failure into the system's own error code.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <array>

#include "system.h"
#include "system_platform.h"

namespace {

// ---- Files open in this run --------------------------------------------------

// Handles still open and temporaries not yet committed, so that a run's end
// releases them as the end of the process would.
std::vector<HANDLE> openHandles;
std::vector<std::string> temporaries;

int32_t LastError() {
  return static_cast<int32_t>(GetLastError());
}

// ---- Faults planned by tests -------------------------------------------------

// Closes a file handle: 0, or the error code. A failed close has still released it.
int32_t CloseFileHandle(HANDLE handle) {
  const bool closed = CloseHandle(handle) != 0;
  const int32_t error = closed ? 0 : LastError();
  if (const int32_t code = platform::InjectedFault(platform::Operation::Close); code != 0) {
    return code;
  }
  return error;
}

HANDLE HandleOf(const TCheckedFile& file) {
  return reinterpret_cast<HANDLE>(file.handle);
}

void Forget(HANDLE handle) {
  std::erase(openHandles, handle);
}

void CloseQuietly(TCheckedFile& file) {
  if (file.open && !file.standard) {
    CloseHandle(HandleOf(file));
    Forget(HandleOf(file));
  }
  file.open = false;
}

// Starts an opening: closes the file if it is open and keeps the name as used.
std::string BeginOpening(TCheckedFile& file, std::string_view name) {
  CloseQuietly(file);
  file = TCheckedFile{};
  file.name = std::string(name.substr(0, MaxPathLength));
  return file.name;
}

void OpenStandard(TCheckedFile& file, DWORD which, const Site& site) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == INVALID_HANDLE_VALUE) RaiseInOut(LastError(), site);
  file.handle = reinterpret_cast<intptr_t>(handle);
  file.standard = true;
  file.open = true;
}

// Other programs may read the file while it is open here, never write it.
HANDLE OpenHandle(const std::string& name, DWORD access, DWORD disposition, int32_t& code) {
  code = platform::InjectedFault(platform::Operation::Open);
  if (code != 0) return INVALID_HANDLE_VALUE;
  const HANDLE handle = CreateFileA(name.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  code = handle == INVALID_HANDLE_VALUE ? LastError() : 0;
  return handle;
}

void Adopt(TCheckedFile& file, HANDLE handle) {
  openHandles.push_back(handle);
  file.handle = reinterpret_cast<intptr_t>(handle);
  file.open = true;
}

HANDLE Checked(const TCheckedFile& file, const Site& site) {
  if (!file.open) RaiseInOut(ErrorCode::FileNotOpen, site);
  return HandleOf(file);
}

// What CreateFresh would refuse on an existing target, found without
// emptying it: a read-only file or a folder (5), a file in use (32).
int32_t RefusesWriting(const std::string& name) {
  int32_t code = 0;
  const HANDLE probe = OpenHandle(name, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, code);
  if (code == ERROR_FILE_NOT_FOUND) return 0;
  if (code != 0) return code;
  CloseHandle(probe);
  return 0;
}

}  // namespace

// ---- Listing -------------------------------------------------------------------

struct SearchState {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

TSearchRec::TSearchRec() = default;
TSearchRec::~TSearchRec() {
  SearchClose(*this);
}

namespace {

// The system's attribute bits never carry the layer's own ones.
constexpr uint32_t LayerBits = faNotRegular | faLinkLoop;

void Fill(TSearchRec& rec, const WIN32_FIND_DATAA& data) {
  rec.attr = data.dwFileAttributes & ~LayerBits;
  rec.size = static_cast<int32_t>(data.nFileSizeLow);
  rec.sizeHigh = data.nFileSizeHigh;
  rec.name = data.cFileName;
  FILETIME local{};
  WORD date = 0;
  WORD time = 0;
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  rec.time = (uint32_t{date} << 16) | time;
}

bool Excluded(const WIN32_FIND_DATAA& data, uint32_t exclude) {
  return (data.dwFileAttributes & exclude) != 0;
}

// Moves on to the next entry that is not excluded: 0, or the system's code.
int32_t NextIncluded(TSearchRec& rec, WIN32_FIND_DATAA& data) {
  do {
    if (!FindNextFileA(rec.listing->handle, &data)) return LastError();
  } while (Excluded(data, rec.excludeAttr));
  return 0;
}

}  // namespace

int32_t SearchFirst(std::string_view pattern, uint32_t attributes, TSearchRec& rec) {
  SearchClose(rec);
  rec.excludeAttr = ~attributes & (faHidden | faSysFile | faVolumeId | faDirectory);
  const std::string name(pattern.substr(0, MaxPathLength));
  if (const int32_t code = platform::InjectedFault(platform::Operation::List); code != 0) {
    return code;
  }
  WIN32_FIND_DATAA data{};
  const HANDLE handle = FindFirstFileA(name.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  rec.listing = std::make_unique<SearchState>();
  rec.listing->handle = handle;
  if (Excluded(data, rec.excludeAttr)) {
    if (const int32_t code = NextIncluded(rec, data); code != 0) return code;
  }
  Fill(rec, data);
  return 0;
}

int32_t SearchNext(TSearchRec& rec) {
  if (!rec.listing) return ErrorCode::InvalidHandle;
  WIN32_FIND_DATAA data{};
  if (const int32_t code = NextIncluded(rec, data); code != 0) return code;
  Fill(rec, data);
  return 0;
}

void SearchClose(TSearchRec& rec) {
  if (!rec.listing) return;
  FindClose(rec.listing->handle);
  rec.listing.reset();
}

bool MakeFolder(std::string_view name) {
  const std::string used(name.substr(0, MaxPathLength));
  if (platform::InjectedFault(platform::Operation::MakeFolder) != 0) return false;
  return CreateDirectoryA(used.c_str(), nullptr) != 0;
}

bool IsExistingFile(std::string_view name) {
  const std::string used(name.substr(0, MaxPathLength));
  WIN32_FIND_DATAA data{};
  const HANDLE handle = FindFirstFileA(used.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FindClose(handle);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

// The volume and file index of an existing folder, which name it whatever
// the letter case or links on the way; false when the name is no folder.
bool FolderIdentity(std::string_view name, BY_HANDLE_FILE_INFORMATION& info) {
  const std::string used(name.substr(0, MaxPathLength));
  // No access asked, only the identity; backup semantics let a folder open.
  const HANDLE handle =
      CreateFileA(used.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  return known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool IsSameFolder(std::string_view first, std::string_view second) {
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  return FolderIdentity(first, a) && FolderIdentity(second, b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

namespace {

// The path of an existing file or folder as the system resolves it, links
// and letter case included; empty when it cannot be resolved (a broken link).
std::string FinalPath(const std::string& name) {
  const HANDLE handle =
      CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  std::array<char, 4 * MAX_PATH> path{};
  const DWORD length =
      GetFinalPathNameByHandleA(handle, path.data(), path.size(), FILE_NAME_NORMALIZED);
  CloseHandle(handle);
  if (length == 0 || length >= path.size()) return {};
  return std::string(path.data(), length);
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

bool IsBelowCurrentFolder(std::string_view name) {
  if (name.empty()) return true;  // names no file
  const std::string used(name.substr(0, MaxPathLength));
  if (IsSeparator(used.front()) || used.find(':') != std::string::npos) return false;
  // Only a link (a reparse point) among the parts that exist can lead elsewhere.
  std::string prefix;
  std::string deepest;
  bool throughLink = false;
  size_t start = 0;
  while (start < used.size()) {
    size_t end = start;
    while (end < used.size() && !IsSeparator(used[end])) ++end;
    const std::string_view part(used.data() + start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    if (!prefix.empty()) prefix += '\\';
    prefix.append(part);
    const DWORD attributes = GetFileAttributesA(prefix.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) break;
    throughLink = throughLink || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    deepest = prefix;
  }
  if (!throughLink) return true;
  // A broken link has no final path: what it names would be made wherever it points.
  const std::string target = FinalPath(deepest);
  const std::string folder = FinalPath(".");
  if (target.empty() || folder.empty()) return false;
  if (!target.starts_with(folder)) return false;
  // Below it: the same folder, or a separator where its name ends (a drive's root ends in one).
  return target.size() == folder.size() || folder.back() == '\\' || target[folder.size()] == '\\';
}

// ---- Checked files -------------------------------------------------------------

void OpenExisting(TCheckedFile& file, std::string_view name, const Site& site) {
  const std::string used = BeginOpening(file, name);
  if (used.empty()) return OpenStandard(file, STD_INPUT_HANDLE, site);
  // Only read, so opened for reading only: read-only files open too.
  int32_t code = 0;
  const HANDLE handle = OpenHandle(used, GENERIC_READ, OPEN_EXISTING, code);
  if (code != 0) RaiseInOut(code, site);
  Adopt(file, handle);
}

void CreateFresh(TCheckedFile& file, std::string_view name, const Site& site) {
  const std::string used = BeginOpening(file, name);
  if (used.empty()) return OpenStandard(file, STD_OUTPUT_HANDLE, site);
  int32_t code = 0;
  const HANDLE handle = OpenHandle(used, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, code);
  if (code != 0) RaiseInOut(code, site);
  Adopt(file, handle);
}

void CreateTemporary(TCheckedFile& file, std::string_view target, const Site& site) {
  constexpr int MaxTemporaryAttempts = 1000;
  const std::string used = BeginOpening(file, target);
  if (const int32_t code = RefusesWriting(used); code != 0) RaiseInOut(code, site);
  for (int attempt = 1; attempt <= MaxTemporaryAttempts; ++attempt) {
    const std::string path = used + ".~" + std::to_string(attempt);
    int32_t code = 0;
    const HANDLE handle = OpenHandle(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, code);
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
    if (code != 0) RaiseInOut(code, site);
    temporaries.push_back(path);
    Adopt(file, handle);
    file.temporaryPath = path;
    file.targetPath = used;
    return;
  }
  RaiseInOut(ErrorCode::GeneralFailure, site);
}

void CommitTemporary(TCheckedFile& file, const Site& site) {
  const HANDLE handle = Checked(file, site);
  file.open = false;
  Forget(handle);
  if (const int32_t code = CloseFileHandle(handle); code != 0) RaiseInOut(code, site);
  platform::CheckInjected(platform::Operation::Rename, site);
  if (!MoveFileExA(file.temporaryPath.c_str(), file.targetPath.c_str(),
                   MOVEFILE_REPLACE_EXISTING)) {
    RaiseInOut(LastError(), site);
  }
  std::erase(temporaries, file.temporaryPath);
  file.temporaryPath.clear();
}

void ReadExact(TCheckedFile& file, void* buffer, int32_t count, const Site& site) {
  const HANDLE handle = Checked(file, site);
  const auto asked =
      static_cast<DWORD>(platform::InjectedCount(platform::Operation::Read, count, site));
  DWORD got = 0;
  if (!ReadFile(handle, buffer, asked, &got, nullptr)) {
    RaiseInOut(LastError(), site);
  }
  if (got < static_cast<DWORD>(count)) RaiseInOut(ErrorCode::ReadPastEnd, site);
}

void WriteExact(TCheckedFile& file, const void* buffer, int32_t count, const Site& site) {
  const HANDLE handle = Checked(file, site);
  if (file.standard) {
    // Data sent to standard output follow the lines written before them.
    if (const int32_t code = platform::PassOnConsole(); code != 0) RaiseInOut(code, site);
  }
  const auto asked =
      static_cast<DWORD>(platform::InjectedCount(platform::Operation::Write, count, site));
  DWORD put = 0;
  if (!WriteFile(handle, buffer, asked, &put, nullptr)) {
    RaiseInOut(LastError(), site);
  }
  if (put < static_cast<DWORD>(count)) RaiseInOut(ErrorCode::ShortWrite, site);
}

void SeekTo(TCheckedFile& file, int32_t position, const Site& site) {
  const HANDLE handle = Checked(file, site);
  platform::CheckInjected(platform::Operation::Seek, site);
  // No high part: a negative position is refused by the system (131).
  if (SetFilePointer(handle, position, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    RaiseInOut(LastError(), site);
  }
}

void CopyExact(TCheckedFile& from, TCheckedFile& to, uint8_t* buffer, int32_t count,
               const Site& site) {
  // Always through the buffer: one ReadFile and one WriteFile per block.
  ReadExact(from, buffer, count, site);
  WriteExact(to, buffer, count, site);
}

void CloseChecked(TCheckedFile& file, const Site& site) {
  const HANDLE handle = Checked(file, site);
  file.open = false;
  if (file.standard) return;
  Forget(handle);
  if (const int32_t code = CloseFileHandle(handle); code != 0) RaiseInOut(code, site);
}

// ---- Process, console, end of run ------------------------------------------------

namespace {
HANDLE console = INVALID_HANDLE_VALUE;
}

std::vector<std::string> platform::StartProcess(int, char**) {
  // The run-time's argv splits by other rules; the layer splits the line itself.
  return SplitCommandLine(GetCommandLineA());
}

int32_t platform::ConsoleOpen(bool& immediate) {
  constexpr int32_t NoError = 0;
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_UNKNOWN) {
    CloseHandle(handle);
    return ErrorCode::OutputUnusable;
  }
  console = handle;
  immediate = type == FILE_TYPE_CHAR;
  return NoError;
}

int32_t platform::ConsoleWrite(const char* data, size_t size) {
  if (const int32_t code = InjectedFault(Operation::Console); code != 0) return code;
  while (size > 0) {
    DWORD put = 0;
    if (!WriteFile(console, data, static_cast<DWORD>(size), &put, nullptr)) return LastError();
    if (put == 0) return ErrorCode::ShortWrite;
    data += put;
    size -= put;
  }
  return 0;
}

std::string platform::ModulePath() {
  std::array<char, MAX_PATH> path{};
  const DWORD length = GetModuleFileNameA(nullptr, path.data(), path.size());
  return std::string(path.data(), std::min<size_t>(length, path.size()));
}

void platform::ReleaseRun() {
  // Closed first: an open file cannot be deleted.
  for (const HANDLE handle : openHandles) CloseHandle(handle);
  openHandles.clear();
  for (const std::string& path : temporaries) DeleteFileA(path.c_str());
  temporaries.clear();
}
