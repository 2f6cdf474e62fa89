#include "core/cpm_shim.h"

#include <fstream>
#include <iterator>
#include <vector>

bool LoadCpmImage(CpmMachine& m, std::span<const uint8_t> image) {
  if (image.size() > m.Bus.Memory.size() - kCpmLoadAddress) return false;
  m.Bus.Memory.fill(0);
  std::copy(image.begin(), image.end(), m.Bus.Memory.begin() + kCpmLoadAddress);
  // The BDOS entry is a RET; the console call itself is done by RunCpm when
  // PC reaches it. The word after it tells programs where memory ends.
  m.Bus.Memory[kCpmBdosEntry] = 0xC9;
  m.Bus.Memory[kCpmBdosEntry + 1] = kCpmStackTop & 0xFF;
  m.Bus.Memory[kCpmBdosEntry + 2] = kCpmStackTop >> 8;
  const uint8_t countCycles = 1;
  m.Cpu = Z80Registers{};
  m.Cpu.CountCycles = countCycles;
  ResetZ80(m.Cpu);
  m.Cpu.PC = kCpmLoadAddress;
  m.Cpu.SP = kCpmStackTop;
  m.Instructions = 0;
  m.Finished = false;
  return true;
}

bool LoadCpmFile(CpmMachine& m, const std::string& path, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  const std::vector<uint8_t> image{std::istreambuf_iterator<char>(file), {}};
  if (file.bad()) {
    error = "cannot read " + path;
    return false;
  }
  if (image.empty()) {
    error = path + " is empty";
    return false;
  }
  if (!LoadCpmImage(m, image)) {
    error = path + " is too large for the CP/M memory";
    return false;
  }
  return true;
}

namespace {

void Bdos(CpmMachine& m, std::ostream& out) {
  switch (m.Cpu.BC.B.L) {
    case 2:
      out.put(char(m.Cpu.DE.B.L));
      break;
    case 9: {
      uint16_t a = m.Cpu.DE.W;
      for (unsigned n = 0; n < 0x10000 && m.Bus.Memory[a] != '$'; ++n, ++a)
        out.put(char(m.Bus.Memory[a]));
      break;
    }
    default:
      break;
  }
  out.flush();
}

}  // namespace

bool RunCpm(CpmMachine& m, std::ostream& out, uint64_t maxInstructions) {
  Z80Registers& cpu = m.Cpu;
  uint64_t done = 0;
  if (m.Finished) return true;
  const auto atBdos = [](const Z80Registers& r) { return r.PC <= kCpmBdosEntry; };
  while (done < maxInstructions) {
    done += RunInstructions(cpu, m.Bus, maxInstructions - done, atBdos);
    if (done == maxInstructions) break;
    if (cpu.PC == 0) {
      m.Finished = true;
      break;
    }
    if (cpu.PC == kCpmBdosEntry) Bdos(m, out);
    ExecuteInstruction(cpu, m.Bus);
    ++done;
  }
  m.Instructions += done;
  return m.Finished;
}
