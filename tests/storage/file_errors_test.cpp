// What a user meets when a file is wrong: a message naming the file and the
// fault, and the machine (or map, or drive) exactly as it was before.
#include <cstring>
#include <functional>

#include "core/machine.h"
#include "devices/keymap.h"
#include "storage/disk_builders.h"

using namespace disktest;

namespace {

// A loader whose documented answer is silence: a missing disk changes nothing,
// and a file of neither DSK format goes in as an unformatted disk.
const std::string kSilent = "(silent)";

struct Loader {
  const char* Name;
  // Loads `path` into state prepared beforehand; returns the message and
  // whether that state is unchanged.
  std::function<std::pair<std::string, bool>(Machine&, const std::string&)> Load;
};

std::vector<Loader> Loaders() {
  return {
      {"key map",
       [](Machine&, const std::string& path) {
         KeyMap map = DefaultKeyMap();
         const KeyMapResult r = LoadKeyMap(map, path);
         return std::pair{r.Ok ? std::string() : r.Error, map == DefaultKeyMap()};
       }},
      {"SymbiFace II memory",
       [](Machine& m, const std::string& path) {
         std::memset(m.Memory.SymbifaceRomRam, 0x5A, sizeof m.Memory.SymbifaceRomRam);
         m.Symbiface.CmosRam[0x0B] = 0x06;
         const std::string error = SymbifaceLoadPersistent(m, path);
         return std::pair{error, m.Memory.SymbifaceRomRam[12345] == 0x5A && m.Symbiface.CmosRam[0x0B] == 0x06};
       }},
      {"hard disk image",
       [](Machine& m, const std::string& path) {
         const std::string error = SymbifaceOpenImage(m.Symbiface, 0, path);
         return std::pair{error, m.Symbiface.Drive[0].Present == 0};
       }},
      {"disk image",
       [](Machine& m, const std::string& path) {
         const InsertResult r = OpenDiskFile(m.Fdc.Drives[0], path);
         std::string message;
         for (const std::string& s : r.Messages) message += s;
         if (r.Status == InsertStatus::Missing) return std::pair{kSilent, m.Fdc.Drives[0].Loaded == 0};
         if (r.Status == InsertStatus::Inserted) {
           const bool unformatted = message.empty() && m.Fdc.Drives[0].TrackCount == 0;
           EjectDisk(m.Fdc.Drives[0]);
           return std::pair{kSilent, unformatted};
         }
         return std::pair{message, m.Fdc.Drives[0].Loaded == 0};
       }},
  };
}

TEST(FileErrors, EachLoaderNamesTheFileAndTheFaultAndChangesNothing) {
  TempDir dir;
  const std::string missing = dir.Path("missing.bin");
  const std::string folder = dir.Path("folder.bin");
  std::filesystem::create_directory(folder);
  const std::string shortFile = dir.File("short.bin", std::vector<uint8_t>(100, 0x11));
  MachineConfig config;
  config.RomDir = dir.Path("no-roms");
  config.SymbifaceEnabled = true;
  const std::unique_ptr<Machine> m = CreateMachine(config);

  for (const Loader& loader : Loaders()) {
    for (const std::string& path : {missing, folder, shortFile}) {
      const auto [message, unchanged] = loader.Load(*m, path);
      EXPECT_TRUE(unchanged) << loader.Name << ", " << path;
      if (message == kSilent) continue;
      EXPECT_NE(message.find(path), std::string::npos) << loader.Name << ": \"" << message << "\"";
      // More than the name: what is wrong with it.
      EXPECT_GT(message.size(), path.size() + 8) << loader.Name << ": \"" << message << "\"";
    }
  }
}

}  // namespace
