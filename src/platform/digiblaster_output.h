// The Digiblaster's own audio device: 22050 Hz, 8-bit unsigned, mono,
// opened and closed by the printer port as its mode starts and stops, fed
// one 441-sample buffer per period after the PSG's.
#pragma once

#include <string>

#include "platform/audio_output.h"
#include "storage/printer.h"

class DigiblasterOutput final : public DigiblasterDevice {
 public:
  ~DigiblasterOutput() override { Close(); }
  bool Open() override;  // false: no device, the Digiblaster is silent
  void Close() override;
  void Queue(const uint8_t* samples, size_t count) override;
  // Why the last Open failed.
  const std::string& Error() const { return out_.Error; }
  bool IsOpen() const { return out_.Device != 0; }

 private:
  SoundOutput out_;
};
