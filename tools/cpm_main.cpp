// pellucidore-cpm FILE.com: runs a CP/M console program (such as the ZEXDOC
// and ZEXALL exercisers) on the emulator's Z80 and prints what it writes.
#include <chrono>
#include <cstdint>
#include <iostream>
#include <limits>
#include <memory>
#include <string>

#include "core/cpm_shim.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: pellucidore-cpm FILE.com\n";
    return 2;
  }
  auto machine = std::make_unique<CpmMachine>();
  std::string error;
  if (!LoadCpmFile(*machine, argv[1], error)) {
    std::cerr << "pellucidore-cpm: " << error << "\n";
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  RunCpm(*machine, std::cout, std::numeric_limits<uint64_t>::max());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << std::endl;
  std::cerr << machine->Instructions << " instructions in " << seconds << " s ("
            << (seconds > 0 ? machine->Instructions / seconds / 1e6 : 0.0) << " million/s)\n";
  return 0;
}
