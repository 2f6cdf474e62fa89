#include "core/rom_header.h"

// A first byte of 0 does not mark a header: a foreground ROM's first byte is
// its type, 0. AMSDOS writes a checksum of bytes 0..66 at bytes 67..68 and
// the file's length at 64..66 (24 bits; the 16-bit one at 24..25 when that
// is zero), so both must hold. A zero length is refused too, or 69 zero
// bytes would pass.
bool HasAmsdosHeader(const uint8_t* data, uint64_t fileSize) {
  if (fileSize < kAmsdosHeaderSize) return false;
  uint32_t sum = 0;
  for (int i = 0; i <= 66; ++i) sum += data[i];
  if ((sum & 0xFFFF) != static_cast<uint32_t>(data[67] | data[68] << 8)) return false;
  uint32_t length = data[64] | data[65] << 8 | data[66] << 16;
  if (length == 0) length = data[24] | data[25] << 8;
  return length != 0 && length <= fileSize - kAmsdosHeaderSize;
}
