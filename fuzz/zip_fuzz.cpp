// libFuzzer target for the ZIP reader: open the archive, list it, extract
// every member into the stream and insert the DSK members. Fails when a
// stream grows past what the directory promised.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "memory_file.h"
#include "storage/disk_image.h"

namespace zipfuzz {

// Extraction takes the first member of a name, whatever its case.
const ZipMemberInfo& FirstNamed(const std::vector<ZipMemberInfo>& members, const std::string& name) {
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  for (const ZipMemberInfo& m : members)
    if (upper(m.Name) == upper(name)) return m;
  return members.front();
}

bool ZipFuzzInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  if (!file.Ok()) return true;
  DriveImage d;
  std::vector<std::string> messages;
  if (!d.Zip.Open(file.Path())) {
    return d.Zip.ListMembers([](const std::string&) {}, messages) == -1;
  }
  const std::vector<ZipMemberInfo> members = d.Zip.Members();
  bool ok = true;
  for (size_t i = 0; i < members.size() && i < 8; ++i) {
    if (d.Zip.ExtractToStream(members[i].Name, messages))
      ok = ok && d.Zip.Stream.size() == FirstNamed(members, members[i].Name).UncompressedSize;
    else
      ok = ok && d.Zip.Stream.empty();
  }
  for (const std::string& name : ListDskMembers(d.Zip, messages)) {
    OpenDiskFromZip(d, name);
    ok = ok && d.TrackCount <= kMaxTracks;
  }
  return ok;
}

}  // namespace zipfuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!zipfuzz::ZipFuzzInput(data, size)) __builtin_trap();
  return 0;
}
