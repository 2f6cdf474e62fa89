// The host's default printer through CUPS.
//
// What the CPC prints is gathered in memory and each finished job is handed
// to CUPS on a worker thread, so the emulation never waits for the print
// system, and a job is sent whole or reported as failed, never cut short.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "storage/printer.h"

class CupsPrinter final : public HostPrinter {
 public:
  CupsPrinter() = default;
  ~CupsPrinter() override;  // sends what is left and waits for it
  CupsPrinter(const CupsPrinter&) = delete;
  CupsPrinter& operator=(const CupsPrinter&) = delete;

  std::string Open() override;
  void Close() override;  // ends the job and waits until CUPS has it
  void Write(uint8_t value) override;
  bool Busy() override { return false; }
  void EndJob() override;

  // Waits until every ended job has been handed to CUPS.
  void Flush();
  // The destination jobs go to (after a successful Open).
  const std::string& Destination() const { return dest_; }
  // Called on the worker thread when a job could not be sent.
  void SetErrorHandler(std::function<void(const std::string&)> handler);

  // The name of CUPS's default destination, or empty with the reason.
  static std::string DefaultDestination(std::string* why = nullptr);

 private:
  void Send(const std::vector<uint8_t>& data);
  void Worker();

  std::string dest_;
  std::vector<uint8_t> job_;  // the job being printed (emulation thread)
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<std::vector<uint8_t>> queue_;
  bool sending_ = false;
  bool stop_ = false;
  std::function<void(const std::string&)> onError_;
  std::thread thread_;
};
