#include <memory>

#include "gob_format.h"
#include "program.h"
#include "system.h"
#include "unpacker.h"

namespace {

// Positions are computed as the format's signed 32-bit numbers: one past
// 2^31 - 1 is negative, and seeking there fails.
int32_t AsPosition(int64_t position) {
  return static_cast<int32_t>(static_cast<uint32_t>(position));
}

int32_t ReadInt32(TCheckedFile& archive) {
  Bytes4 field{};
  ReadExact(archive, field.data(), 4);
  return DecodeInt32(field.data());
}

// One MakeFolder call for the part before each "\", from left to right.
void MakeFolders(const std::string& name) {
  for (size_t slash = name.find('\\'); slash != std::string::npos;
       slash = name.find('\\', slash + 1)) {
    MakeFolder(name.substr(0, slash));
  }
}

}  // namespace

void ExtractArchive() {
  const std::unique_ptr<uint8_t[]> buffer = AllocateBuffer(TransferBlock);
  TCheckedFile archive;
  OpenExisting(archive, ArchiveName);
  SeekTo(archive, 8);
  const int32_t indexOffset = ReadInt32(archive);
  SeekTo(archive, indexOffset);
  const int32_t count = ReadInt32(archive);
  PutLine({"Number of files in archive: ", count});
  PutLine();
  bool skipped = false;
  for (int64_t i = 1; i <= count; ++i) {
    SeekTo(archive, AsPosition(int64_t{indexOffset} + 4 + IndexEntrySize * (i - 1)));
    IndexEntryBytes record{};
    ReadExact(archive, record.data(), IndexEntrySize);
    const TIndexEntry entry = DecodeIndexEntry(record);
    SeekTo(archive, entry.offset);
    const std::string name = NameOf(entry);
    if (IsUnsafeName(name) || !IsBelowCurrentFolder(name)) {
      // Nothing is written outside the current folder, by its name or through a link.
      PutLine({"Skipping ", name, ": it leads outside the current folder"});
      skipped = true;
      continue;
    }
    PutLine({"Splitting into ", name, " - ", entry.size, " bytes"});
    MakeFolders(name);
    TCheckedFile output;
    CreateFresh(output, name);
    CopyData(archive, output, entry.size, buffer.get());
    CloseChecked(output);
  }
  CloseChecked(archive);
  if (skipped) ExitWith(1);
}
