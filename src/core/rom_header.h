// Recognising the 128-byte AMSDOS header that ROM files copied from a CPC
// disk may carry in front of the image.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kAmsdosHeaderSize = 128;

// True when a file of fileSize bytes starts with an AMSDOS header (data: its
// first 128 bytes, given only when fileSize is at least that): the checksum
// matches and the length it gives fits in the file.
bool HasAmsdosHeader(const uint8_t* data, uint64_t fileSize);
