// Tools -> Run Script...: a CSL script driving the window's machine. The
// script is read and started while the emulation is held, then served at the
// end of every period on the emulation thread, where nothing else moves the
// machine.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

#include "debugger/csl.h"

struct Machine;
struct Settings;

class ScriptControl : public QObject {
  Q_OBJECT

 public:
  // hold/release bracket the start while the emulation thread is parked.
  ScriptControl(QObject* parent, Machine& m, const Settings& settings, std::function<void()> hold,
                std::function<void()> release);
  ~ScriptControl() override;

  // Starts the script (a running one is stopped first); empty, or the error.
  QString Run(const std::filesystem::path& file);
  // Emulation thread, after each period.
  void PeriodEnd(Machine& m);
  bool Running() const { return running_.load(std::memory_order_acquire); }

 signals:
  // Queued to the window's thread: progress lines, the end and its reason.
  void Notice(const QString& text);
  void Finished(const QString& error);

 private:
  Machine& machine_;
  const Settings& settings_;
  std::function<void()> hold_, release_;
  std::unique_ptr<CslRunner> runner_;
  std::atomic<bool> running_{false};
};
