// The POSIX half of the layer. It gives the programs the behaviour of the
// system they were made for: names match ignoring ASCII case, "\" separates
// folders, listings come in a fixed order, read-only files refuse writing,
// and a file open here cannot be replaced while it is open.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <list>
#include <new>
#include <optional>
#include <unordered_map>

#include "system.h"
#include "system_platform.h"

namespace {

// ---- Error codes -------------------------------------------------------------

int32_t CodeOf(int error) {
  switch (error) {
    case ENOENT:
      return ErrorCode::FileNotFound;
    case ENOTDIR:
      return ErrorCode::PathNotFound;
    case EMFILE:
    case ENFILE:
      return ErrorCode::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ErrorCode::AccessDenied;
    case EBADF:
      return ErrorCode::InvalidHandle;
    case EBUSY:
    case ETXTBSY:
      return ErrorCode::SharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ErrorCode::DiskFull;
    case ENAMETOOLONG:
      return ErrorCode::FileNameTooLong;
    case EPIPE:
      return ErrorCode::BrokenPipe;
    case EIO:
      return ErrorCode::IoDevice;
    case ELOOP:
      return ErrorCode::LinkLoop;
    default:
      return ErrorCode::GeneralFailure;
  }
}

// A folder that cannot be read for want of memory is not an unreadable
// folder: the run ends as anywhere else memory runs out.
void FailIfOutOfMemory(int error) {
  if (error == ENOMEM) throw std::bad_alloc();
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A path's folder ("" for the current one) and its last part.
struct FolderAndLeaf {
  std::string folder;
  std::string leaf;
};

FolderAndLeaf SplitLast(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return {ParentOf(path), slash == std::string::npos ? path : path.substr(slash + 1)};
}

// An opening that found no file: "no such file" when its folder exists,
// otherwise "a folder on the path is missing".
int32_t OpeningCode(int error, const std::string& path) {
  if (error != ENOENT) return CodeOf(error);
  const std::string parent = ParentOf(path);
  struct stat status {};
  if (parent.empty() || (stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode))) {
    return ErrorCode::FileNotFound;
  }
  return ErrorCode::PathNotFound;
}

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
}

std::string Join(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path.append(name);
  return path;
}

// The order in which a case-insensitive Windows file system lists a folder:
// by the bytes with a..z upper-cased, ties broken by the raw bytes.
bool ListsBefore(const std::string& a, const std::string& b) {
  const std::string upperA = UpperAscii(a);
  const std::string upperB = UpperAscii(b);
  const auto asBytes = [](const std::string& s) {
    return std::basic_string_view<unsigned char>(reinterpret_cast<const unsigned char*>(s.data()),
                                                 s.size());
  };
  if (upperA != upperB) return asBytes(upperA) < asBytes(upperB);
  return asBytes(a) < asBytes(b);
}

// ---- Faults planned by tests -------------------------------------------------

// Closes a descriptor: 0, or the error code. A failed close has still released it.
int32_t CloseDescriptor(int fd) {
  const int closed = close(fd);
  const int error = errno;
  if (const int32_t code = platform::InjectedFault(platform::Operation::Close); code != 0) {
    return code;
  }
  return closed == 0 ? 0 : CodeOf(error);
}

// ---- Names that ignore letter case -------------------------------------------

// The names of a few recently searched folders by their upper-cased form, so
// that creating many files in one folder costs one folder scan, not one each.
struct FolderNames {
  std::string folder;
  std::unordered_map<std::string, std::string> byUpper;
};

constexpr size_t FolderCacheSize = 8;
std::list<FolderNames> folderCache;

FolderNames* CachedFolder(const std::string& folder) {
  for (auto it = folderCache.begin(); it != folderCache.end(); ++it) {
    if (it->folder == folder) {
      folderCache.splice(folderCache.begin(), folderCache, it);
      return &folderCache.front();
    }
  }
  return nullptr;
}

void Remember(FolderNames& names, const std::string& name) {
  auto [it, added] = names.byUpper.try_emplace(UpperAscii(name), name);
  if (!added && ListsBefore(name, it->second)) it->second = name;  // the first variant listed wins
}

FolderNames* LoadFolder(const std::string& folder) {
  if (FolderNames* cached = CachedFolder(folder)) return cached;
  if (platform::InjectedFault(platform::Operation::List) != 0) return nullptr;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) {
    FailIfOutOfMemory(errno);
    return nullptr;
  }
  FolderNames names{folder, {}};
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") Remember(names, name);
  }
  closedir(dir);
  folderCache.push_front(std::move(names));
  if (folderCache.size() > FolderCacheSize) folderCache.pop_back();
  return &folderCache.front();
}

void NoteCreated(const std::string& path) {
  const auto [folder, name] = SplitLast(path);
  if (FolderNames* names = CachedFolder(folder)) Remember(*names, name);
}

// The name in the folder that differs from the given one only in ASCII case.
std::optional<std::string> CaseVariant(const std::string& folder, std::string_view name) {
  const FolderNames* names = LoadFolder(folder);
  if (names == nullptr) return std::nullopt;
  const auto found = names->byUpper.find(UpperAscii(name));
  if (found == names->byUpper.end()) return std::nullopt;
  return found->second;
}

// The name with "\" turned into "/": its host path when every part exists as written.
std::string Slashed(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// A path with no empty part, which HostPath would change even when it exists.
bool IsPlainPath(const std::string& path) {
  return !path.empty() && path.back() != '/' && path.find("//") == std::string::npos;
}

// Folders that MakeFolder made or found in this run, by their name as
// written (with "/"), with their host path.
std::unordered_map<std::string, std::string> knownFolders;

// The parts of a "/"-separated path, without empty ones and without ".":
// "." names the folder itself, and kept it would make a second name, and a
// second cache entry, for one folder.
std::vector<std::string_view> PartsOf(const std::string& path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view part(path.data() + start, end - start);
    start = end + 1;
    if (!part.empty() && part != ".") parts.push_back(part);
  }
  return parts;
}

// The host path of a name: "\" becomes "/", and each part that does not exist
// as written takes the name of a variant in its folder that differs only in
// ASCII letter case.
std::string HostPath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  std::string result = !path.empty() && path.front() == '/' ? "/" : "";
  bool folderExists = true;
  for (const std::string_view part : PartsOf(path)) {
    std::string next = Join(result, part);
    if (folderExists && part != "..") {
      struct stat status {};
      if (lstat(next.c_str(), &status) != 0) {
        const auto variant = errno == ENOENT ? CaseVariant(result, part) : std::nullopt;
        if (variant) {
          next = Join(result, *variant);
        } else {
          folderExists = false;
        }
      }
    }
    result = std::move(next);
  }
  return result.empty() && !path.empty() ? "." : result;
}

// ---- Files open in this run --------------------------------------------------

// A file open here shares reading only: while it is open, no opening that
// writes may take it, and while it is written, no other opening may.
struct OpenRecord {
  int fd;
  dev_t device;
  ino_t inode;
  bool writing;
  bool identified;   // device and inode are filled in; a file just created needs them only later
  int64_t position;  // where the next transfer starts, for a regular file; -1 for others
  int64_t size;      // the file's size when last asked
};
std::vector<OpenRecord> openFiles;

OpenRecord* RecordOf(const TCheckedFile& file) {
  if (file.standard) return nullptr;
  for (OpenRecord& record : openFiles) {
    if (record.fd == file.handle) return &record;
  }
  return nullptr;
}

// Whether the file holds the bytes up to end; its size is asked again only
// when the size known does not reach that far.
bool Holds(OpenRecord& record, int64_t end) {
  struct stat status {};
  if (record.size < end && fstat(record.fd, &status) == 0) record.size = status.st_size;
  return record.size >= end;
}

// The position of a regular file is kept here, so that a seek costs no call
// and each transfer is one positioned call.
int64_t* TrackedPosition(const TCheckedFile& file) {
  OpenRecord* record = RecordOf(file);
  return record != nullptr && record->position >= 0 ? &record->position : nullptr;
}

struct Temporary {
  std::string path;
};
std::vector<Temporary> temporaries;

// The temporary being written, kept in plain memory too: a signal handler
// may read nothing else.
constexpr size_t MaxPendingPath = 4096;
std::array<char, MaxPendingPath> pendingTemporary{};
volatile sig_atomic_t temporaryPending = 0;

void NotePending(const std::string& path) {
  temporaryPending = 0;
  if (path.size() >= pendingTemporary.size()) return;
  std::copy(path.begin(), path.end(), pendingTemporary.begin());
  pendingTemporary[path.size()] = '\0';
  temporaryPending = 1;
}

constexpr std::array<int, 3> Interruptions = {SIGINT, SIGTERM, SIGHUP};

// Holds the interruption signals back while it lives; they arrive afterwards.
class InterruptionsHeld {
 public:
  InterruptionsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int interruption : Interruptions) sigaddset(&held, interruption);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~InterruptionsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  InterruptionsHeld(const InterruptionsHeld&) = delete;
  InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

 private:
  sigset_t previous_{};
};

// A run interrupted by a signal removes its unfinished temporary, so that
// only the earlier archive remains, then ends as the signal would.
void RemovePendingTemporary(int signalNumber) {
  if (temporaryPending != 0) unlink(pendingTemporary.data());
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

bool IsShared(const struct stat& status, bool writing) {
  return std::any_of(openFiles.begin(), openFiles.end(), [&](OpenRecord& record) {
    struct stat own {};
    if (!record.identified && fstat(record.fd, &own) == 0) {
      record.device = own.st_dev;
      record.inode = own.st_ino;
      record.identified = true;
    }
    return record.identified && record.device == status.st_dev && record.inode == status.st_ino &&
           (writing || record.writing);
  });
}

void Forget(int fd) {
  std::erase_if(openFiles, [fd](const OpenRecord& record) { return record.fd == fd; });
}

void CloseQuietly(TCheckedFile& file) {
  if (file.open && !file.standard) {
    close(static_cast<int>(file.handle));
    Forget(static_cast<int>(file.handle));
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

void OpenStandard(TCheckedFile& file, int fd) {
  file.handle = fd;
  file.standard = true;
  file.open = true;
}

// Finishes an opening on a descriptor: refuses what cannot be a file here,
// then records it. Returns 0 or the error code, with the descriptor closed.
int32_t AdoptDescriptor(TCheckedFile& file, int fd, bool writing, bool empty) {
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    const int error = errno;
    close(fd);
    return CodeOf(error);
  }
  // A folder is refused as Windows refuses it; a FIFO or socket would block.
  if (S_ISDIR(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    close(fd);
    return ErrorCode::AccessDenied;
  }
  if (IsShared(status, writing)) {
    close(fd);
    return ErrorCode::SharingViolation;
  }
  if (empty && S_ISREG(status.st_mode) && status.st_size > 0 && ftruncate(fd, 0) != 0) {
    const int error = errno;
    close(fd);
    return CodeOf(error);
  }
  // Only a device keeps blocking apart; a regular file ignores the flag.
  const bool regular = S_ISREG(status.st_mode);
  if (!regular) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  openFiles.push_back(
      {fd, status.st_dev, status.st_ino, writing, true, regular ? 0 : -1, status.st_size});
  file.handle = fd;
  file.open = true;
  return 0;
}

// What opening a file for writing would refuse before touching it: a folder,
// or a read-only file (even for root, as Windows refuses it).
int32_t RefusesWriting(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return 0;
  if (S_ISDIR(status.st_mode) || (status.st_mode & 0222) == 0) return ErrorCode::AccessDenied;
  return 0;
}

// Below this many bytes a copy through the buffer costs less than one in the kernel.
constexpr int32_t MinKernelCopy = 16384;

// The kernel cannot copy between these two files; the buffer can.
bool KernelCopyUnsupported(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == EBADF;
}

int Descriptor(const TCheckedFile& file, const Site& site) {
  if (!file.open) RaiseInOut(ErrorCode::FileNotOpen, site);
  return static_cast<int>(file.handle);
}

// ---- Listing -----------------------------------------------------------------

struct Identity {
  dev_t device;
  ino_t inode;
  bool operator==(const Identity&) const = default;
};
std::vector<Identity> listingsOpen;  // the folders whose listing is in progress

bool MatchesMask(std::string_view mask, std::string_view name) {
  if (mask == "*.*" || mask == "*") return true;
  const auto upper = [](char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
  };
  // Iterative glob with backtracking to the last "*".
  size_t m = 0, n = 0, starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || upper(mask[m]) == upper(name[n]))) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (starM != std::string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

struct SearchEntry {
  std::string name;
  uint32_t attr;
  uint64_t size;
  uint32_t time;
};

struct SearchState {
  std::vector<SearchEntry> entries;
  size_t current = 0;
  Identity folder{};
};

TSearchRec::TSearchRec() = default;
TSearchRec::~TSearchRec() {
  SearchClose(*this);
}

namespace {

SearchEntry Describe(int folderFd, const std::string& name, const Identity& folder) {
  SearchEntry entry{name, 0, 0, 0};
  if (name == "." || name == "..") {
    entry.attr = faDirectory;
    return entry;
  }
  if (name.front() == '.') entry.attr |= faHidden;
  struct stat status {};
  if (fstatat(folderFd, name.c_str(), &status, 0) != 0) {
    entry.attr |= faNotRegular;  // a broken link, or gone since the folder was read
    return entry;
  }
  entry.time = static_cast<uint32_t>(status.st_mtime);
  if (S_ISDIR(status.st_mode)) {
    entry.attr |= faDirectory;
    const Identity target{status.st_dev, status.st_ino};
    if (target == folder ||
        std::find(listingsOpen.begin(), listingsOpen.end(), target) != listingsOpen.end()) {
      entry.attr |= faLinkLoop;
    }
  } else if (S_ISREG(status.st_mode)) {
    entry.attr |= faArchive;
    if ((status.st_mode & 0222) == 0) entry.attr |= faReadOnly;
    entry.size = static_cast<uint64_t>(status.st_size);
  } else {
    entry.attr |= faNotRegular;
  }
  return entry;
}

// Lists the entries of a folder that match the mask and are not excluded, in
// the fixed order. Returns 0 or the error code.
int32_t ListFolder(const std::string& folder, std::string_view mask, uint32_t exclude,
                   SearchState& state) {
  if (const int32_t code = platform::InjectedFault(platform::Operation::List); code != 0) {
    return code;
  }
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) {
    FailIfOutOfMemory(errno);
    return errno == ENOENT || errno == ENOTDIR ? ErrorCode::PathNotFound : CodeOf(errno);
  }
  struct stat status {};
  fstat(dirfd(dir), &status);
  state.folder = {status.st_dev, status.st_ino};
  while (const dirent* raw = readdir(dir)) {
    const std::string name = raw->d_name;
    if (!MatchesMask(mask, name)) continue;
    SearchEntry entry = Describe(dirfd(dir), name, state.folder);
    if ((entry.attr & exclude) == 0) state.entries.push_back(std::move(entry));
  }
  closedir(dir);
  // The order of ListsBefore, with each name upper-cased once rather than at
  // every comparison (strings compare their bytes as unsigned).
  std::vector<std::pair<std::string, size_t>> keys;
  keys.reserve(state.entries.size());
  for (size_t i = 0; i < state.entries.size(); ++i) {
    keys.emplace_back(UpperAscii(state.entries[i].name), i);
  }
  std::sort(keys.begin(), keys.end(), [&state](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return state.entries[a.second].name < state.entries[b.second].name;
  });
  std::vector<SearchEntry> sorted;
  sorted.reserve(keys.size());
  for (const auto& key : keys) sorted.push_back(std::move(state.entries[key.second]));
  state.entries = std::move(sorted);
  return 0;
}

void SplitPattern(std::string_view pattern, std::string& folder, std::string_view& mask) {
  const size_t separator = pattern.find_last_of("\\/");
  if (separator == std::string_view::npos) {
    folder.clear();
    mask = pattern;
    return;
  }
  folder = separator == 0 ? "/" : HostPath(pattern.substr(0, separator));
  mask = pattern.substr(separator + 1);
}

void Fill(TSearchRec& rec) {
  const SearchEntry& entry = rec.listing->entries[rec.listing->current];
  rec.attr = entry.attr;
  rec.size = static_cast<int32_t>(static_cast<uint32_t>(entry.size));
  rec.sizeHigh = static_cast<uint32_t>(entry.size >> 32);
  rec.name = entry.name;
  rec.time = entry.time;
}

}  // namespace

int32_t SearchFirst(std::string_view pattern, uint32_t attributes, TSearchRec& rec) {
  SearchClose(rec);
  rec.excludeAttr = ~attributes & (faHidden | faSysFile | faVolumeId | faDirectory);
  std::string folder;
  std::string_view mask;
  SplitPattern(pattern, folder, mask);
  auto state = std::make_unique<SearchState>();
  const int32_t code = ListFolder(folder, mask, rec.excludeAttr, *state);
  if (code != 0) return code;
  if (state->entries.empty()) return ErrorCode::FileNotFound;
  listingsOpen.push_back(state->folder);
  rec.listing = std::move(state);
  Fill(rec);
  return 0;
}

int32_t SearchNext(TSearchRec& rec) {
  if (!rec.listing) return ErrorCode::InvalidHandle;
  if (rec.listing->current + 1 >= rec.listing->entries.size()) return ErrorCode::NoMoreFiles;
  ++rec.listing->current;
  Fill(rec);
  return 0;
}

void SearchClose(TSearchRec& rec) {
  if (!rec.listing) return;
  const auto it = std::find(listingsOpen.begin(), listingsOpen.end(), rec.listing->folder);
  if (it != listingsOpen.end()) listingsOpen.erase(it);
  rec.listing.reset();
}

bool MakeFolder(std::string_view name) {
  if (name.empty() || HasWildcard(name)) return false;
  const std::string used(name.substr(0, MaxPathLength));
  const std::string key = Slashed(used);
  // Every entry in a folder asks for it again; once it is there, it is known.
  if (knownFolders.contains(key)) return false;
  const std::string path = HostPath(used);
  if (platform::InjectedFault(platform::Operation::MakeFolder) != 0) return false;
  if (mkdir(path.c_str(), 0777) == 0) {
    NoteCreated(path);
    knownFolders.emplace(key, path);
    return true;
  }
  struct stat status {};
  if (errno == EEXIST && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    knownFolders.emplace(key, path);
  }
  return false;
}

bool IsExistingFile(std::string_view name) {
  if (name.empty()) return false;
  if (HasWildcard(name)) {
    std::string folder;
    std::string_view mask;
    SplitPattern(name, folder, mask);
    SearchState state;
    if (ListFolder(folder, mask, 0, state) != 0 || state.entries.empty()) return false;
    return (state.entries.front().attr & faDirectory) == 0;
  }
  struct stat status {};
  const std::string path = HostPath(name.substr(0, MaxPathLength));
  return stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool IsSameFolder(std::string_view first, std::string_view second) {
  struct stat a {};
  struct stat b {};
  return stat(HostPath(first).c_str(), &a) == 0 && stat(HostPath(second).c_str(), &b) == 0 &&
         S_ISDIR(a.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

namespace {

// Whether an existing host path leads, through its links, to a place below
// the current folder. A broken link has no real path: what it names would be
// made wherever it points.
bool RealPathIsBelow(const std::string& path) {
  const std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), &free);
  const std::unique_ptr<char, decltype(&free)> here(realpath(".", nullptr), &free);
  if (!real || !here) return false;
  const std::string_view target(real.get());
  const std::string_view folder(here.get());
  if (folder == "/") return true;
  return target == folder || (target.starts_with(folder) && target.size() > folder.size() &&
                              target[folder.size()] == '/');
}

// Folders (by name as written, with "/") found below the current folder in
// this run, with their host paths. Only this run makes folders there, and it
// makes no links, so for their later entries the last part is all that can
// lead elsewhere.
std::unordered_map<std::string, std::string> foldersBelow;

// A name of plain parts: no ".", "..", empty or absolute part to resolve.
bool HasPlainParts(const std::string& path) {
  if (!IsPlainPath(path) || path.front() == '/') return false;
  const std::string framed = "/" + path + "/";
  return framed.find("/./") == std::string::npos && framed.find("/../") == std::string::npos;
}

// The last part of a name in a folder known to lie below: a link there is
// followed to see where it leads; a part that does not exist in any letter
// case makes a new file here.
bool IsLeafBelow(const std::string& hostFolder, std::string_view leaf) {
  const FolderNames* names = LoadFolder(hostFolder);
  if (names != nullptr && !names->byUpper.contains(UpperAscii(leaf))) return true;
  std::string host = Join(hostFolder, leaf);
  struct stat status {};
  if (lstat(host.c_str(), &status) != 0) {
    if (errno != ENOENT) return false;
    const auto variant = CaseVariant(hostFolder, leaf);
    if (!variant) return true;
    host = Join(hostFolder, *variant);
    if (lstat(host.c_str(), &status) != 0) return errno == ENOENT;
  }
  return !S_ISLNK(status.st_mode) || RealPathIsBelow(host);
}

}  // namespace

bool IsBelowCurrentFolder(std::string_view name) {
  if (name.empty()) return true;  // names no file
  const std::string used(name.substr(0, MaxPathLength));
  const std::string key = Slashed(used);
  const bool plain = HasPlainParts(key);
  const auto [folderKey, leaf] = SplitLast(key);
  if (plain) {
    if (folderKey.empty()) return IsLeafBelow("", leaf);
    const auto known = foldersBelow.find(folderKey);
    if (known != foldersBelow.end()) return IsLeafBelow(known->second, leaf);
  }
  const std::string path = HostPath(used);
  if (path.empty() || path.front() == '/') return false;
  // Only a link among the parts that exist can lead elsewhere.
  std::string prefix;
  std::string deepest;
  bool throughLink = false;
  for (const std::string_view part : PartsOf(path)) {
    if (part == "..") return false;
    prefix = Join(prefix, part);
    struct stat status {};
    if (lstat(prefix.c_str(), &status) != 0) break;
    throughLink = throughLink || S_ISLNK(status.st_mode);
    deepest = prefix;
  }
  if (throughLink) return RealPathIsBelow(deepest);
  // Its folder, made or found below, needs no second look for later entries.
  if (plain) foldersBelow.emplace(folderKey, ParentOf(path));
  return true;
}

// ---- Checked files -----------------------------------------------------------

void OpenExisting(TCheckedFile& file, std::string_view name, const Site& site) {
  const std::string used = BeginOpening(file, name);
  if (used.empty()) return OpenStandard(file, STDIN_FILENO);
  if (HasWildcard(used)) RaiseInOut(ErrorCode::InvalidName, site);
  // Only read, so opened for reading only: read-only files open too. Most
  // names exist as written; the search for another letter case comes after.
  constexpr int Flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  platform::CheckInjected(platform::Operation::Open, site);
  std::string path = Slashed(used);
  const bool plain = IsPlainPath(path);
  int fd = plain ? open(path.c_str(), Flags) : -1;
  if (!plain || (fd < 0 && errno == ENOENT)) {
    path = HostPath(used);
    fd = open(path.c_str(), Flags);
  }
  if (fd < 0) RaiseInOut(OpeningCode(errno, path), site);
  const int32_t code = AdoptDescriptor(file, fd, false, false);
  if (code != 0) RaiseInOut(code, site);
}

namespace {

// Creates a file that exists in no letter case, in the current folder or in
// one that MakeFolder made or found, with one call: such a file cannot be
// read-only, shared or a folder, and needs no emptying. False when the name
// is not such a file; the full way then finds out what it is.
bool CreateNew(TCheckedFile& file, const std::string& used) {
  const std::string path = Slashed(used);
  if (!IsPlainPath(path) || path.front() == '/') return false;
  const auto [key, leaf] = SplitLast(path);
  if (leaf == "." || leaf == "..") return false;
  std::string folder;
  if (!key.empty()) {
    const auto known = knownFolders.find(key);
    if (known == knownFolders.end()) return false;
    folder = known->second;
  }
  FolderNames* names = LoadFolder(folder);
  if (names == nullptr || names->byUpper.contains(UpperAscii(leaf))) return false;
  const std::string host = Join(folder, leaf);
  const int fd = open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  Remember(*names, leaf);
  openFiles.push_back({fd, 0, 0, true, false, 0, 0});
  file.handle = fd;
  file.open = true;
  return true;
}

}  // namespace

void CreateFresh(TCheckedFile& file, std::string_view name, const Site& site) {
  const std::string used = BeginOpening(file, name);
  if (used.empty()) return OpenStandard(file, STDOUT_FILENO);
  if (HasWildcard(used)) RaiseInOut(ErrorCode::InvalidName, site);
  platform::CheckInjected(platform::Operation::Open, site);
  if (CreateNew(file, used)) return;
  const std::string path = HostPath(used);
  if (const int32_t code = RefusesWriting(path); code != 0) RaiseInOut(code, site);
  // Not emptied by open(): a file open here must survive the refusal.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) RaiseInOut(OpeningCode(errno, path), site);
  NoteCreated(path);
  const int32_t code = AdoptDescriptor(file, fd, true, true);
  if (code != 0) RaiseInOut(code, site);
}

void CreateTemporary(TCheckedFile& file, std::string_view target, const Site& site) {
  constexpr int MaxTemporaryAttempts = 1000;
  const std::string used = BeginOpening(file, target);
  if (HasWildcard(used)) RaiseInOut(ErrorCode::InvalidName, site);
  const std::string targetPath = HostPath(used);
  if (const int32_t code = RefusesWriting(targetPath); code != 0) RaiseInOut(code, site);
  for (int attempt = 1; attempt <= MaxTemporaryAttempts; ++attempt) {
    const std::string path = targetPath + ".~" + std::to_string(attempt);
    platform::CheckInjected(platform::Operation::Open, site);
    const InterruptionsHeld held;  // until the new file is noted for removal
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) RaiseInOut(OpeningCode(errno, path), site);
    temporaries.push_back({path});
    NotePending(path);
    const int32_t code = AdoptDescriptor(file, fd, true, false);
    if (code != 0) RaiseInOut(code, site);
    file.temporaryPath = path;
    file.targetPath = targetPath;
    return;
  }
  RaiseInOut(ErrorCode::GeneralFailure, site);
}

void CommitTemporary(TCheckedFile& file, const Site& site) {
  const int fd = Descriptor(file, site);
  file.open = false;
  Forget(fd);
  if (const int32_t code = CloseDescriptor(fd); code != 0) RaiseInOut(code, site);
  platform::CheckInjected(platform::Operation::Rename, site);
  if (rename(file.temporaryPath.c_str(), file.targetPath.c_str()) != 0) {
    RaiseInOut(CodeOf(errno), site);
  }
  std::erase_if(temporaries, [&file](const Temporary& t) { return t.path == file.temporaryPath; });
  temporaryPending = 0;
  NoteCreated(file.targetPath);
  file.temporaryPath.clear();
}

void ReadExact(TCheckedFile& file, void* buffer, int32_t count, const Site& site) {
  const int fd = Descriptor(file, site);
  const auto asked =
      static_cast<size_t>(platform::InjectedCount(platform::Operation::Read, count, site));
  int64_t* position = TrackedPosition(file);
  const ssize_t got =
      position != nullptr ? pread(fd, buffer, asked, *position) : read(fd, buffer, asked);
  if (got < 0) RaiseInOut(CodeOf(errno), site);
  if (position != nullptr) *position += got;
  if (got < count) RaiseInOut(ErrorCode::ReadPastEnd, site);
}

void WriteExact(TCheckedFile& file, const void* buffer, int32_t count, const Site& site) {
  const int fd = Descriptor(file, site);
  if (file.standard) {
    // Data sent to standard output follow the lines written before them.
    if (const int32_t code = platform::PassOnConsole(); code != 0) RaiseInOut(code, site);
  }
  const auto asked =
      static_cast<size_t>(platform::InjectedCount(platform::Operation::Write, count, site));
  int64_t* position = TrackedPosition(file);
  const ssize_t put =
      position != nullptr ? pwrite(fd, buffer, asked, *position) : write(fd, buffer, asked);
  if (put < 0) RaiseInOut(CodeOf(errno), site);
  if (position != nullptr) *position += put;
  if (put < count) RaiseInOut(ErrorCode::ShortWrite, site);
}

void CopyExact(TCheckedFile& from, TCheckedFile& to, uint8_t* buffer, int32_t count,
               const Site& site) {
  Descriptor(from, site);
  Descriptor(to, site);
  int64_t* source = TrackedPosition(from);
  int64_t* target = TrackedPosition(to);
  // In the kernel when both are regular files and the source holds the whole
  // block; otherwise through the buffer, where a short source fails as
  // ReadExact fails, with nothing of the block written.
  // Planned faults are counted on the buffered path's reads and writes.
  if (!platform::FaultsPlanned() && count >= MinKernelCopy && source != nullptr &&
      target != nullptr && Holds(*RecordOf(from), *source + count)) {
    bool partly = false;
    while (count > 0) {
      loff_t in = *source;
      loff_t out = *target;
      const ssize_t moved =
          copy_file_range(static_cast<int>(from.handle), &in, static_cast<int>(to.handle), &out,
                          static_cast<size_t>(count), 0);
      // A full disk after part of the block is the short write of WriteExact.
      if (moved < 0 && partly && CodeOf(errno) == ErrorCode::DiskFull) {
        RaiseInOut(ErrorCode::ShortWrite, site);
      }
      if (moved < 0 && !KernelCopyUnsupported(errno)) RaiseInOut(CodeOf(errno), site);
      if (moved <= 0) break;  // the rest goes through the buffer
      partly = true;
      *source = in;
      *target = out;
      count -= static_cast<int32_t>(moved);
    }
    if (count == 0) return;
  }
  ReadExact(from, buffer, count, site);
  WriteExact(to, buffer, count, site);
}

void SeekTo(TCheckedFile& file, int32_t position, const Site& site) {
  const int fd = Descriptor(file, site);
  if (position < 0) RaiseInOut(ErrorCode::NegativeSeek, site);
  platform::CheckInjected(platform::Operation::Seek, site);
  if (int64_t* tracked = TrackedPosition(file)) {
    *tracked = position;
    return;
  }
  if (lseek(fd, position, SEEK_SET) < 0) RaiseInOut(CodeOf(errno), site);
}

void CloseChecked(TCheckedFile& file, const Site& site) {
  const int fd = Descriptor(file, site);
  file.open = false;
  if (file.standard) return;
  Forget(fd);
  if (const int32_t code = CloseDescriptor(fd); code != 0) RaiseInOut(code, site);
}

// ---- Process, console, end of run ----------------------------------------------

std::vector<std::string> platform::StartProcess(int argc, char** argv) {
  // A closed pipe makes writes fail instead of killing the process.
  signal(SIGPIPE, SIG_IGN);
  for (const int interruption : Interruptions) {
    struct sigaction current {};
    sigaction(interruption, nullptr, &current);
    if (current.sa_handler != SIG_IGN) signal(interruption, RemovePendingTemporary);  // nohup stays
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    // An empty argument counts as none, as "" does on a Windows command line.
    if (i == 0 || argv[i][0] != '\0') arguments.emplace_back(argv[i]);
  }
  return arguments;
}

int32_t platform::ConsoleOpen(bool& immediate) {
  struct stat status {};
  if (fstat(STDOUT_FILENO, &status) != 0) return CodeOf(errno);
  immediate = S_ISCHR(status.st_mode);
  return 0;
}

int32_t platform::ConsoleWrite(const char* data, size_t size) {
  if (const int32_t code = InjectedFault(Operation::Console); code != 0) return code;
  while (size > 0) {
    const ssize_t put = write(STDOUT_FILENO, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return CodeOf(errno);
    data += put;
    size -= static_cast<size_t>(put);
  }
  return 0;
}

std::string platform::ModulePath() {
  std::array<char, 4096> path{};
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
  return length > 0 ? std::string(path.data(), static_cast<size_t>(length)) : "";
}

void platform::ReleaseRun() {
  temporaryPending = 0;
  for (const Temporary& temporary : temporaries) unlink(temporary.path.c_str());
  temporaries.clear();
  for (const OpenRecord& record : openFiles) close(record.fd);
  openFiles.clear();
  listingsOpen.clear();
  folderCache.clear();
  knownFolders.clear();
  foldersBelow.clear();
}
