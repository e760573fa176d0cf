// Bundra: packs the current folder tree into GOB\<TARGET>.GOB.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "gob_format.h"

constexpr std::string_view OutputFolder = "GOB";
constexpr std::string_view ArchiveExtension = ".GOB";

// The run's tables, filled by ScanFolder and written by WriteArchive. An
// entry's offset is relative to the data region until it is written; its
// name field and its PathTable row hold the source file's path.
extern std::string TargetName;
extern int32_t EntryCount;
extern int32_t DataTotal;
extern std::array<TIndexEntry, MaxEntries> EntryTable;
// Folders the scan could not list; their files are missing from the archive.
extern int32_t UnlistedFolders;
extern std::array<std::string, MaxEntries> PathTable;

// The whole run; returns the exit code.
int RunPacker();
// Scans the tree into the tables, then writes the archive.
void WriteArchive();
// Lists the files below folder ("" for the current folder) into the tables.
void ScanFolder(const std::string& folder, bool nested);
