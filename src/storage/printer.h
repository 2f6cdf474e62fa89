// Printer port: the CPC's 8-bit output latch (bits 6..0 data, bit 7 strobe)
// and the six things it can drive, chosen by PARMODE.
//
//   0 "Not Connected"           nothing
//   1 "Use the Default Printer" the printed text, Epson codes removed, as
//                               jobs for the host's default printer
//   2 "Print to RTF file"       Epson-style codes turned into an RTF document
//   3 "Use an existing LPT"     a host parallel port, byte for byte
//   4 "Print to BIN file"       every byte written, raw
//   5 "Use Digiblaster"         the latch as an 8-bit DAC sampled at 22050 Hz
//
// Files go to the print folder (PRINTDIR) as "CPC<time of day>.rtf/.bin".
// The Digiblaster ring is filled by the machine loop and handed once per
// period to a DigiblasterDevice the host supplies (an SDL2 stream in the
// program). The host printers of modes 1 and 3 are HostPrinters the host
// supplies as well (CUPS and ppdev in the program), so the core knows no
// printing system. Left out: the printer's own paper and error lines.
//
// PrinterStart/PrinterStop run with the emulation stopped: at program start
// and end, around every reset (PrinterReset) and on a mode change
// (PrinterSetMode). PrinterWrite, PrinterRead, the sampling and the
// submission run in the emulation thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

struct Machine;

enum PrinterModes : uint32_t {
  kPrinterNotConnected = 0,
  kPrinterDefaultPrinter = 1,
  kPrinterRtfFile = 2,
  kPrinterLpt = 3,
  kPrinterBinFile = 4,
  kPrinterDigiblaster = 5,
};

inline constexpr int kDigiBuffers = 16;
inline constexpr uint32_t kDigiBufferSamples = 441;  // 20 ms at 22050 Hz
inline constexpr uint32_t kDigiSampleRate = 22050;
inline constexpr uint32_t kDigiStartFillIndex = 5;   // playback runs five buffers behind

// The Digiblaster's audio output: 22050 Hz, 8-bit unsigned, mono.
class DigiblasterDevice {
 public:
  virtual ~DigiblasterDevice() = default;
  virtual bool Open() = 0;  // false: no audio, the Digiblaster stays silent
  virtual void Close() = 0;
  // Plays after what was queued before; the samples are copied.
  virtual void Queue(const uint8_t* samples, size_t count) = 0;
};

// A printer of the host. Open and Close run with the emulation stopped;
// Write, Busy and EndJob on the emulation thread, and must not block it.
class HostPrinter {
 public:
  virtual ~HostPrinter() = default;
  // Empty when the printer can take output; otherwise why it cannot, and
  // the CPC then sees it offline (busy).
  virtual std::string Open() = 0;
  // Ends the job under way; nothing written may be lost.
  virtual void Close() = 0;
  // The default printer gets characters of text, a parallel port every
  // byte the CPC writes to its latch.
  virtual void Write(uint8_t value) = 0;
  virtual bool Busy() = 0;
  // The CPC has printed nothing for the idle time: the job is complete.
  virtual void EndJob() {}
};

inline constexpr uint32_t kDefaultPrinterIdleSeconds = 5;

struct PrinterFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct PrinterState {
  uint8_t LastByte;       // last value written to the port
  uint8_t DigiblasterOn;  // the port feeds the Digiblaster sample ring

  uint32_t PrinterMode;                // PARMODE, 0..5
  std::filesystem::path PrintDir;      // PRINTDIR
  uint8_t Started;                     // between PrinterStart and PrinterStop
  std::string Message;                 // why the last PrinterStart failed; empty when it did not

  std::unique_ptr<std::FILE, PrinterFileCloser> PrintFile;  // the RTF or BIN document
  std::filesystem::path PrintPath;

  uint8_t RtfState = 1;  // 1 text, 2 after ESC, 3 waiting for ESC's parameter
  uint8_t RtfPending;    // '-' or 'S'
  uint8_t RtfCondensed;
  uint8_t BinSkipNext = 1;  // set at program start only: the first BIN byte is dropped

  uint8_t DigiSample;
  uint32_t DigiFillIndex;
  uint32_t DigiFillCount;
  uint32_t DigiPlayIndex;
  uint8_t DigiBuffers[kDigiBuffers][kDigiBufferSamples];
  DigiblasterDevice* Device;  // not owned; may be null (no audio)
  uint8_t DeviceOpen;

  HostPrinter* DefaultPrinter = nullptr;  // mode 1; not owned; null: offline
  HostPrinter* Lpt = nullptr;             // mode 3; not owned; null: offline
  uint8_t HostOpen;                       // the mode's host printer took Open
  uint8_t JobPending;                     // text went to the default printer since its last EndJob
  uint8_t TextAfterCr;                    // the last text character was a CR
  uint32_t IdlePeriods;                   // periods since the last character
  uint32_t IdleLimitPeriods = kDefaultPrinterIdleSeconds * 50;
};

// Opens the current mode's output. Returns why a print file could not be
// created (also kept in Message), or an empty string.
std::string PrinterStart(Machine& m);
// Closes the current mode's output, deleting a document that holds nothing.
void PrinterStop(Machine& m);
// The machine reset's step: the old document ends, a new one begins.
void PrinterReset(Machine& m);
// A new PARMODE from the configuration: stop the old output, start the new.
std::string PrinterSetMode(Machine& m, uint32_t mode);

void PrinterWrite(Machine& m, uint8_t value);
uint8_t PrinterRead(Machine& m, uint8_t soFar);

// Stores the last port byte as the next 22050 Hz Digiblaster sample.
void DigiblasterSampleStep(Machine& m);
// Once per period, after the PSG's buffer: picks the next buffer to play
// (jumping back five when playback has caught up with the filling) and
// returns it; kDigiBufferSamples bytes.
const uint8_t* DigiblasterNextBuffer(PrinterState& p);
// DigiblasterNextBuffer handed to the device, in Digiblaster mode.
void DigiblasterSubmit(Machine& m);
// Once per period: ends the default printer's job after the idle time.
void PrinterPeriodTick(Machine& m);
// The busy line the PPI reads (port B bit 6); a parallel port answers live.
bool PrinterBusyLine(const Machine& m);

// "CPC" + the time of day in millionths of a day + ext, in dir; counted on
// past names already taken so that an earlier document is never overwritten.
std::filesystem::path PrintFileName(const std::filesystem::path& dir, const char* ext);
