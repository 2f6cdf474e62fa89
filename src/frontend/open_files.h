// Files handed to the program from outside (the command line, a drop on the
// window, the Recent menu): what each one is, judged by its content rather
// than its name, and the list of recently opened files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

enum class OpenFileKind {
  Disk,        // "MV - CPC" or "EXTENDED CPC DSK"
  Zip,         // a ZIP archive, taken to hold a disk image
  Snapshot,    // "MV - SNA"
  Tape,        // "ZXTape!" (CDT/TZX) or "Compressed Square Wave" (CSW)
  Unknown,     // none of these
  Unreadable,  // missing, a folder, or cannot be read
};

OpenFileKind DetectFileKind(const std::filesystem::path& file);

// What the user is told about a file that is not opened, naming it; empty
// for the kinds that open.
std::string OpenFileProblem(const std::filesystem::path& file, OpenFileKind kind);

// Puts path first in the list, dropping an older entry of the same file and
// anything past the tenth.
void AddRecentFile(std::vector<std::string>& recent, const std::string& path);
