// Where the CPC firmware that ships with the program is found, and the ROM
// lookup that falls back on it.
//
// The user's ROM folder comes first; an image it lacks is taken from the
// built-in folder under the same name (ignoring case, as profiles store
// names upper-cased). A name found in neither stays missing.
#pragma once

#include <filesystem>
#include <string>

// The built-in firmware folder, or an empty path when there is none. In
// order: $PELLUCIDORE_BUILTIN_ROM_DIR when set (empty switches the built-in
// firmware off), the installed share/pellucidore/roms beside the program,
// then the roms/ folder of the source tree the program was built from.
std::filesystem::path FindBuiltInRomDir();

// The file in dir whose name equals name, exactly or else ignoring case;
// empty when there is none.
std::filesystem::path FindRomFile(const std::filesystem::path& dir, const std::string& name);

// The ROM folder's file, else the built-in one; empty when neither has it.
// fromBuiltIn (when given) says which one was found.
std::filesystem::path LocateRom(const std::filesystem::path& romDir, const std::filesystem::path& builtInDir,
                                const std::string& name, bool* fromBuiltIn = nullptr);
