// The runner's --benchmark: the machine loaded as the window loads it (the
// sound chip sampled every period, the finished frame and the period's
// sound copied out, as the window publishes and queues them, here into
// buffers nobody reads), and a report that keeps the program's start-up
// apart from the emulated speed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Machine;

class BenchmarkLoad {
 public:
  // Switches sampling on at the given format unless a recording already
  // did at its own.
  void Start(Machine& m, uint32_t rate, uint32_t channels, uint32_t bits);
  // After every period, in place of the window's frame and sound hooks.
  void PublishFrame(const Machine& m);
  void SubmitSound(const Machine& m);

 private:
  std::vector<uint8_t> frame_;
  std::vector<uint8_t> sound_;
};

// Seconds from the program's first code (its earliest static initialiser,
// once the system has loaded it and its libraries) to now.
double SecondsSinceProgramStart();

struct BenchmarkFigures {
  double StartupSeconds = 0;  // program start to the first emulated period
  long Periods = 0;
  double MachineSeconds = 0;  // emulated time
  double WallSeconds = 0;     // the periods alone
};
// The lines --benchmark prints.
std::string BenchmarkReport(const BenchmarkFigures& f);
