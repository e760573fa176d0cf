#include <cstdint>

#include "packer.h"
#include "system.h"

namespace {

[[noreturn]] void Refuse(std::string_view reason, const std::string& path) {
  PutLine({"Error: ", reason, ": ", path});
  ExitWith(1);
}

// A "\" inside a name would come back as a folder separator.
void CheckName(const std::string& name, const std::string& path) {
  if (name.find('\\') != std::string::npos) Refuse("Backslash in a file or folder name", path);
}

void AddFile(const std::string& path, const TSearchRec& rec) {
  ++EntryCount;
  if (EntryCount > MaxEntries) {
    PutLine({"Error: To many files (8192) in BUNDRA archive"});
    ExitWith(1);
  }
  CheckName(rec.name, path);
  if (path.size() > static_cast<size_t>(MaxNameLength)) {
    Refuse("Path longer than 128 characters", path);
  }
  // The format's sizes and offsets are signed 32-bit fields.
  if (rec.sizeHigh != 0 || rec.size < 0) Refuse("File of 2 GB or more", path);
  const int64_t archiveSize =
      int64_t{HeaderSize} + int64_t{IndexEntrySize} * EntryCount + DataTotal + rec.size;
  if (archiveSize > MaxArchiveSize) Refuse("Archive would pass 2147483647 bytes", path);

  PathTable[EntryCount - 1] = path;
  TIndexEntry& entry = EntryTable[EntryCount - 1];
  SetName(entry, path);
  entry.size = rec.size;
  entry.offset = DataTotal;
  DataTotal += rec.size;
}

}  // namespace

void ScanFolder(const std::string& folder, bool nested) {
  TSearchRec rec;
  int32_t result = SearchFirst(nested ? folder + "\\*.*" : "*.*", faAnyFile, rec);
  if (result != 0 && result != ErrorCode::FileNotFound && result != ErrorCode::NoMoreFiles) {
    // Its files would be missing without a word; the run says so and fails.
    PutLine({"Skipping ", nested ? folder : ".", ": the folder cannot be listed"});
    ++UnlistedFolders;
  }
  while (result == 0) {
    const std::string path = nested ? folder + "\\" + rec.name : rec.name;
    if ((rec.attr & faNotRegular) != 0) {
      PutLine({"Skipping ", path, ": not a regular file"});
    } else if ((rec.attr & faDirectory) != 0) {
      if (rec.name == OutputFolder || rec.name == "." || rec.name == "..") {
        // the archive's own folder, and the folder and its parent
      } else if ((rec.attr & faLinkLoop) != 0) {
        PutLine({"Skipping ", path, ": a link back into the tree"});
      } else if (IsSameFolder(path, OutputFolder)) {
        // The archive's folder under another name (letter case, a link): never packed.
        PutLine({"Skipping ", path, ": the folder of the archive"});
      } else {
        CheckName(rec.name, path);
        ScanFolder(path, true);
      }
    } else {
      AddFile(path, rec);
    }
    result = SearchNext(rec);
  }
  SearchClose(rec);
}
