// Shared modules the programs open only when a feature needs them (AVI
// recording), so that a short run loads none of their libraries.
#pragma once

#include <string>

// dlopen()s fileName from, in order: the folder PELLUCIDORE_MODULE_DIR
// names (for tests and unusual installs), the program's own folder (a build
// tree), and the installed module folder relative to the program. Returns
// the handle (never closed), or null with a one-line reason in error.
void* OpenModule(const std::string& fileName, std::string& error);
