// Spillet: extracts a GOB archive into the current folder.
#pragma once

#include <string>

// The archive's file name: the argument upper-cased, ".GOB" added when it holds no dot.
extern std::string ArchiveName;

// The whole run; returns the exit code.
int RunUnpacker();
// Checks the argument, sets ArchiveName, and extracts when the archive exists.
void ReadArguments();
// Writes every entry of the archive under its stored path.
void ExtractArchive();
