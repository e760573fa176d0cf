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

void WriteIndex(TCheckedFile& archive) {
  WriteExact(archive, HeaderStart.data(), HeaderStart.size());
  WriteExact(archive, EncodeInt32(IndexOffset).data(), 4);
  WriteExact(archive, EncodeInt32(EntryCount).data(), 4);
  const int32_t dataStart = HeaderSize + IndexEntrySize * EntryCount;
  for (int32_t i = 0; i < EntryCount; ++i) {
    const TIndexEntry& entry = EntryTable[i];
    WriteExact(archive, EncodeInt32(dataStart + entry.offset).data(), 4);
    WriteExact(archive, EncodeInt32(entry.size).data(), 4);
    WriteExact(archive, entry.name.data(), MaxNameLength);
  }
}

void WriteData(TCheckedFile& archive, uint8_t* buffer) {
  for (int32_t i = 0; i < EntryCount; ++i) {
    // Written before the opening, so that it names the file whose opening fails.
    PutLine({"Adding ", PathTable[i], "..."});
    TCheckedFile source;
    OpenExisting(source, PathTable[i]);
    CopyData(source, archive, EntryTable[i].size, buffer);
    CloseChecked(source);
  }
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
  WriteIndex(archive);
  WriteData(archive, buffer.get());
  CommitTemporary(archive);
  if (UnlistedFolders > 0) ExitWith(1);
}

int RunPacker() {
  return RunGuarded(Pack);
}
