// Autorun: the command a user would type to start a disk, found from its
// AMSDOS directory.
//
// The directory is read from the image itself, not through the emulated
// controller, so it works before the machine has booted. Formats are told
// by the first sector ID of track 0: &C1 data (directory on track 0), &41
// system/vendor (track 2), &01 IBM (track 1).
//
// Rules, in order: the only program (BASIC or binary, user 0) is run; else
// the program named DISC or DISK; else the one named like the image file;
// else the only one not hidden. A disk with a CP/M boot sector and no AMSDOS
// program gets |CPM. Anything else gets CAT, which decides nothing.
#pragma once

#include <string>
#include <vector>

struct DriveImage;

struct AmsdosFile {
  std::string Name;       // upper case, no trailing spaces
  std::string Extension;  // upper case, no trailing spaces
  bool Hidden = false;    // system attribute: CAT does not list it
};

// The user 0 files of the disk (first extents only), in directory order.
// Empty when the disk has no readable directory.
std::vector<AmsdosFile> ReadAmsdosDirectory(DriveImage& d);

// `RUN"NAME`, `|CPM` or `CAT`, without a line end. imageName is the disk
// file's (or ZIP member's) name, with or without folder and extension.
std::string AutorunCommand(DriveImage& d, const std::string& imageName);
