#include "program.h"
#include "system.h"
#include "unpacker.h"

std::string ArchiveName;

namespace {

void Unpack() {
  WriteBanner("Veskmoor LA Spillet 2.0");
  ReadArguments();
}

}  // namespace

void ReadArguments() {
  if (ArgumentCount() < 1 || Argument(1) == "/?") {
    PutLine({"USAGE SPILLET <filename>[.GOB]"});
    ExitWith(1);
  }
  ArchiveName = UpperAscii(Argument(1));
  if (ArchiveName.find('.') == std::string::npos) ArchiveName += ".GOB";
  if (!IsExistingFile(ArchiveName)) {
    PutLine({"Error: The file ", ArchiveName, " doesn't exist!"});
    PutLine({"       Program halted."});
    ExitWith(2);
  }
  ExtractArchive();
}

int RunUnpacker() {
  return RunGuarded(Unpack);
}
