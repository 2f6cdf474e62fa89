// A small ZIP reader: just enough to pull one DSK image out of an archive.
//
// Reads the end-of-central-directory record and the central directory, and
// extracts stored or deflated members into an in-memory stream, checking the
// CRC-32. Left out: ZIP64, multi-part archives, encryption and every
// compression method other than stored (0) and deflate (8). Archives are only
// read, never written.
//
// Failures the user must see come back as the reader's own message texts in
// the `messages` list; the caller shows them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct ZipMemberInfo {
  std::string Name;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t Crc = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint32_t LocalHeaderOffset = 0;
};

inline constexpr const char* kMsgNoZipOpened = "No Zipfile opened";
inline constexpr const char* kMsgExtractError = "Error at ExtractToStream";
inline constexpr const char* kMsgWrongCrc = "Wrong CRC, so file could be wrong";

class TMiniZip {
 public:
  // Largest member we are willing to extract; a DSK image is far smaller.
  static constexpr uint32_t kMaxMemberSize = 16u << 20;

  TMiniZip() = default;
  ~TMiniZip();
  TMiniZip(const TMiniZip&) = delete;
  TMiniZip& operator=(const TMiniZip&) = delete;

  // Reads the directory. Opening the archive that is already open does
  // nothing. False (and no archive open) when the file is missing or is not
  // a readable ZIP.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }
  const std::vector<ZipMemberInfo>& Members() const { return members_; }

  // Calls onMember once per member name in directory order and returns the
  // number of members; -1 without an open archive.
  int ListMembers(const std::function<void(const std::string&)>& onMember,
                  std::vector<std::string>& messages) const;

  // Extracts the member (name compared without regard to case) into Stream,
  // position 0. A CRC mismatch is reported but still counts as success.
  // On failure Stream is left empty.
  bool ExtractToStream(const std::string& name, std::vector<std::string>& messages);

  std::vector<uint8_t> Stream;

 private:
  bool ReadAt(uint64_t offset, void* buffer, size_t length) const;
  bool Extract(const ZipMemberInfo& member, std::vector<std::string>& messages);

  std::FILE* file_ = nullptr;
  uint64_t fileSize_ = 0;
  std::string path_;
  std::vector<ZipMemberInfo> members_;
};
