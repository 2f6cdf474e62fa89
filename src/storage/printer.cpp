#include "storage/printer.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include "core/machine.h"

namespace fs = std::filesystem;

namespace {

constexpr char kRtfHeader[] =
    "{\\rtf1\\ansi\r\n"
    "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}\r\n";
constexpr char kRtfTrailer[] = "\r\n}";
static_assert(sizeof kRtfHeader - 1 == 67);
constexpr uintmax_t kEmptyRtfSize = sizeof kRtfHeader - 1 + sizeof kRtfTrailer - 1;

constexpr uint8_t kEsc = 27;

void Put(PrinterState& p, const char* text) {
  if (p.PrintFile) std::fputs(text, p.PrintFile.get());
}

void PutChar(PrinterState& p, uint8_t c) {
  if (p.PrintFile) std::fputc(c, p.PrintFile.get());
}

bool OpenPrintFile(PrinterState& p, const char* ext) {
  const fs::path dir = p.PrintDir.empty() ? fs::path("PRINTS") : p.PrintDir;
  std::error_code ec;
  fs::create_directories(dir, ec);
  p.PrintPath = PrintFileName(dir, ext);
  p.PrintFile.reset(std::fopen(p.PrintPath.c_str(), "wb"));
  if (!p.PrintFile) {
    p.Message = "Cannot create the print file " + p.PrintPath.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Closes the document and removes it when it holds no more than an empty
// one would.
void ClosePrintFile(PrinterState& p, uintmax_t emptySize) {
  if (!p.PrintFile) return;
  p.PrintFile.reset();
  std::error_code ec;
  const uintmax_t size = fs::file_size(p.PrintPath, ec);
  if (!ec && size <= emptySize) fs::remove(p.PrintPath, ec);
}

// SI, DC2 and ESC, which both text outputs take alike; true when c was one.
bool EpsonControl(PrinterState& p, uint8_t c) {
  switch (c) {
    case 15:
      p.RtfCondensed = 1;
      return true;
    case 18:
      p.RtfCondensed = 0;
      return true;
    case kEsc:
      p.RtfState = 2;
      return true;
    default:
      return false;
  }
}

void RtfText(PrinterState& p, uint8_t c) {
  if (EpsonControl(p, c)) return;
  if (c == 13) {
    Put(p, "\\par ");
    return;
  }
  if (c < 32 || c > 126) return;
  if (c == '\\' || c == '{' || c == '}') PutChar(p, '\\');
  PutChar(p, c);
  if (!p.RtfCondensed) PutChar(p, ' ');
}

void RtfEscape(PrinterState& p, uint8_t c) {
  const char* out = nullptr;
  switch (c) {
    case '-':
    case 'S':
      p.RtfPending = c;
      p.RtfState = 3;
      return;
    case '4': out = "\\i "; break;
    case '5': out = "\\i0 "; break;
    case '@': p.RtfCondensed = 0; break;  // printer initialise
    case 'E': out = "\\b "; break;
    case 'F': out = "\\b0 "; break;
    case 'G': out = "\\embo "; break;
    case 'H': out = "\\embo0 "; break;
    case 'T': out = "\\nosupersub "; break;
    default:
      return;  // unknown commands are swallowed until a known one comes
  }
  if (out) Put(p, out);
  p.RtfState = 1;
}

void RtfParameter(PrinterState& p, uint8_t c) {
  if (c != '0' && c != '1') return;
  if (p.RtfPending == '-')
    Put(p, c == '1' ? "\\ul " : "\\ul0 ");
  else
    Put(p, c == '1' ? "\\sub " : "\\super ");
  p.RtfState = 1;
}

// Epson-style codes, shared by the RTF document and the default printer's
// text: the escape sequences are parsed alike, and only the text differs.
// With no document open (the default printer) the RTF codes go nowhere.
void EpsonWrite(PrinterState& p, uint8_t value, void (*text)(PrinterState&, uint8_t)) {
  if (!(value & 0x80)) return;  // only strobed bytes are printed
  const uint8_t c = value & 0x7F;
  switch (p.RtfState) {
    case 2:
      RtfEscape(p, c);
      break;
    case 3:
      RtfParameter(p, c);
      break;
    default:
      text(p, c);
      break;
  }
}

void SendText(PrinterState& p, uint8_t c) {
  p.IdlePeriods = 0;
  if (!p.HostOpen) return;
  p.DefaultPrinter->Write(c);
  p.JobPending = 1;
}

// The default printer gets plain text, which any office printer prints as it
// stands, where raw Epson codes would come out as garbage: the characters
// the RTF document would show, CR LF as one line end.
void PlainText(PrinterState& p, uint8_t c) {
  const bool afterCr = p.TextAfterCr;
  p.TextAfterCr = 0;
  if (EpsonControl(p, c)) return;
  switch (c) {
    case 13:
      SendText(p, '\n');
      p.TextAfterCr = 1;
      return;
    case 10:
      if (!afterCr) SendText(p, '\n');
      return;
    case 9:
    case 12:
      SendText(p, c);
      return;
    default:
      break;
  }
  if (c >= 32 && c <= 126) SendText(p, c);
}

HostPrinter* ModeHost(const PrinterState& p) {
  switch (p.PrinterMode) {
    case kPrinterDefaultPrinter:
      return p.DefaultPrinter;
    case kPrinterLpt:
      return p.Lpt;
    default:
      return nullptr;
  }
}

void BinWrite(PrinterState& p, uint8_t value) {
  if (!p.BinSkipNext) PutChar(p, value);
  p.BinSkipNext = 0;
}

}  // namespace

fs::path PrintFileName(const fs::path& dir, const char* ext) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const double ms = static_cast<double>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ms / 1000.0;
  auto number = static_cast<long long>(std::llround(seconds / 86400.0 * 1000000.0));
  // Two documents started within the same 86 ms (a reset right after
  // printing) would share a name; the later one must not replace the other.
  for (;;) {
    fs::path candidate = dir / ("CPC" + std::to_string(number) + ext);
    std::error_code ec;
    if (!fs::exists(candidate, ec)) return candidate;
    ++number;
  }
}

std::string PrinterStart(Machine& m) {
  PrinterState& p = m.Printer;
  if (p.Started) PrinterStop(m);
  p.Started = 1;
  p.Message.clear();
  p.RtfCondensed = 0;
  p.RtfState = 1;
  p.TextAfterCr = 0;
  p.JobPending = 0;
  p.IdlePeriods = 0;
  p.HostOpen = 0;
  m.Ppi.PrinterBusy = 0;  // the PPI's port B bit 6
  switch (p.PrinterMode) {
    case kPrinterDefaultPrinter:
    case kPrinterLpt:
      // A printer that cannot print is offline, as a CPC with no printer
      // plugged in sees it, rather than taking text that goes nowhere.
      if (HostPrinter* host = ModeHost(p)) {
        p.Message = host->Open();
        p.HostOpen = p.Message.empty();
      }
      m.Ppi.PrinterBusy = !p.HostOpen;
      break;
    case kPrinterRtfFile:
      if (OpenPrintFile(p, ".rtf")) Put(p, kRtfHeader);
      break;
    case kPrinterBinFile:
      OpenPrintFile(p, ".bin");
      break;
    case kPrinterDigiblaster:
      std::memset(p.DigiBuffers, 0, sizeof p.DigiBuffers);
      p.DigiFillIndex = kDigiStartFillIndex;
      p.DigiPlayIndex = 0;
      p.DigiFillCount = 0;
      p.DigiSample = 0;
      p.DeviceOpen = p.Device && p.Device->Open();
      p.DigiblasterOn = 1;
      break;
    default:
      break;
  }
  return p.Message;
}

void PrinterStop(Machine& m) {
  PrinterState& p = m.Printer;
  if (!p.Started) return;
  p.Started = 0;
  switch (p.PrinterMode) {
    case kPrinterDefaultPrinter:
    case kPrinterLpt:
      if (p.HostOpen) ModeHost(p)->Close();
      p.HostOpen = 0;
      p.JobPending = 0;
      break;
    case kPrinterRtfFile:
      Put(p, kRtfTrailer);
      ClosePrintFile(p, kEmptyRtfSize);
      break;
    case kPrinterBinFile:
      // A single byte is no print-out (the firmware writes one to the port
      // when it starts); an empty file is not either.
      ClosePrintFile(p, 1);
      break;
    case kPrinterDigiblaster:
      if (p.DeviceOpen) p.Device->Close();
      p.DeviceOpen = 0;
      p.DigiblasterOn = 0;
      break;
    default:
      break;
  }
  p.PrintFile.reset();
  m.Ppi.PrinterBusy = 0;
}

void PrinterReset(Machine& m) {
  PrinterStop(m);
  PrinterStart(m);
}

std::string PrinterSetMode(Machine& m, uint32_t mode) {
  PrinterStop(m);
  m.Printer.PrinterMode = mode <= kPrinterDigiblaster ? mode : kPrinterNotConnected;
  return PrinterStart(m);
}

void PrinterWrite(Machine& m, uint8_t value) {
  PrinterState& p = m.Printer;
  p.LastByte = value;
  switch (p.PrinterMode) {
    case kPrinterDefaultPrinter:
      EpsonWrite(p, value, PlainText);
      break;
    case kPrinterRtfFile:
      EpsonWrite(p, value, RtfText);
      break;
    case kPrinterLpt:
      if (p.HostOpen) p.Lpt->Write(value);
      break;
    case kPrinterBinFile:
      BinWrite(p, value);
      break;
    case kPrinterDigiblaster:
      p.DigiSample = value;  // all eight bits: the DAC has no strobe
      break;
    default:
      break;
  }
}

uint8_t PrinterRead(Machine& m, uint8_t soFar) {
  switch (m.Printer.PrinterMode) {
    case kPrinterLpt:
    case kPrinterDigiblaster:
      return soFar;
    default:
      return 0xFF;
  }
}

void DigiblasterSampleStep(Machine& m) {
  PrinterState& p = m.Printer;
  if (p.DigiFillCount == kDigiBufferSamples) {
    p.DigiFillIndex = (p.DigiFillIndex + 1) % kDigiBuffers;
    p.DigiFillCount = 0;
  }
  p.DigiBuffers[p.DigiFillIndex][p.DigiFillCount++] = p.DigiSample;
}

const uint8_t* DigiblasterNextBuffer(PrinterState& p) {
  if (p.DigiPlayIndex == p.DigiFillIndex) p.DigiPlayIndex = (p.DigiFillIndex + kDigiBuffers - 5) % kDigiBuffers;
  const uint8_t* buffer = p.DigiBuffers[p.DigiPlayIndex];
  p.DigiPlayIndex = (p.DigiPlayIndex + 1) % kDigiBuffers;
  return buffer;
}

void DigiblasterSubmit(Machine& m) {
  PrinterState& p = m.Printer;
  if (p.PrinterMode != kPrinterDigiblaster || !p.Started) return;
  const uint8_t* buffer = DigiblasterNextBuffer(p);
  if (p.DeviceOpen) p.Device->Queue(buffer, kDigiBufferSamples);
}

void PrinterPeriodTick(Machine& m) {
  PrinterState& p = m.Printer;
  if (!p.JobPending || ++p.IdlePeriods < p.IdleLimitPeriods) return;
  p.JobPending = 0;
  p.DefaultPrinter->EndJob();
}

bool PrinterBusyLine(const Machine& m) {
  const PrinterState& p = m.Printer;
  if (p.PrinterMode == kPrinterLpt && p.HostOpen) return p.Lpt->Busy();
  return m.Ppi.PrinterBusy;
}
