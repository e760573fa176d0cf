#include <cstring>
#include <memory>

#include "packer.h"
#include "program.h"
#include "system.h"

std::string TargetName;
int32_t EntryCount = 0;
int32_t DataTotal = 0;
int32_t UnlistedFolders = 0;
std::array<TIndexEntry, MaxEntries> EntryTable;
std::array<std::string, MaxEntries> PathTable;

namespace {

// The archive's bytes gather in the transfer buffer and leave it in full
// blocks: the header, the index and the small files take one write per
// block instead of one or three each. The archive is a temporary file until
// its last byte is written, so how its bytes are batched shows nowhere.
struct Gathering {
  TCheckedFile& archive;
  uint8_t* buffer;
  int32_t fill = 0;
};

void PassOn(Gathering& out) {
  if (out.fill > 0) WriteExact(out.archive, out.buffer, out.fill);
  out.fill = 0;
}

// The place for the next count bytes (at most TransferBlock) in the buffer.
uint8_t* Reserve(Gathering& out, int32_t count) {
  if (out.fill + count > TransferBlock) PassOn(out);
  uint8_t* place = out.buffer + out.fill;
  out.fill += count;
  return place;
}

void Append(Gathering& out, const void* bytes, int32_t count) {
  std::memcpy(Reserve(out, count), bytes, static_cast<size_t>(count));
}

void WriteIndex(Gathering& out) {
  Append(out, HeaderStart.data(), HeaderStart.size());
  Append(out, EncodeInt32(IndexOffset).data(), 4);
  Append(out, EncodeInt32(EntryCount).data(), 4);
  const int32_t dataStart = HeaderSize + IndexEntrySize * EntryCount;
  for (int32_t i = 0; i < EntryCount; ++i) {
    TIndexEntry stored = EntryTable[i];
    stored.offset = dataStart + stored.offset;
    Append(out, EncodeIndexEntry(stored).data(), IndexEntrySize);
  }
}

void WriteData(Gathering& out) {
  for (int32_t i = 0; i < EntryCount; ++i) {
    // Written before the opening, so that it names the file whose opening fails.
    PutLine({"Adding ", PathTable[i], "..."});
    TCheckedFile source;
    OpenExisting(source, PathTable[i]);
    const int32_t size = EntryTable[i].size;
    if (size < TransferBlock) {
      if (size > 0) ReadExact(source, Reserve(out, size), size);
    } else {
      PassOn(out);
      CopyData(source, out.archive, size, out.buffer);
    }
    CloseChecked(source);
  }
  PassOn(out);
}

void Pack() {
  WriteBanner("Veskmoor LA Bundra 2.0");
  if (ArgumentCount() < 1) {
    PutLine({"USAGE: BUNDRA <target>[.GOB]"});
    PutLine();
    ExitWith(1);
  }
  TargetName = UpperAscii(Argument(1));
  const size_t dot = TargetName.find('.');
  if (dot != std::string::npos && dot > 0) TargetName.resize(dot);
  WriteArchive();
}

}  // namespace

void WriteArchive() {
  MakeFolder(OutputFolder);
  const std::unique_ptr<uint8_t[]> buffer = AllocateBuffer(TransferBlock);
  const std::string archivePath =
      std::string(OutputFolder) + "\\" + TargetName + std::string(ArchiveExtension);
  EntryCount = 0;
  DataTotal = 0;
  UnlistedFolders = 0;
  ScanFolder("", false);
  // Written under a temporary name, so a failed run leaves an earlier archive as it was.
  TCheckedFile archive;
  CreateTemporary(archive, archivePath);
  Gathering out{archive, buffer.get()};
  WriteIndex(out);
  WriteData(out);
  CommitTemporary(archive);
  if (UnlistedFolders > 0) ExitWith(1);
}

int RunPacker() {
  return RunGuarded(Pack);
}
