#include "platform/cups_printer.h"

#include <cups/cups.h>
#include <dlfcn.h>

#include <iostream>

namespace {

constexpr char kJobTitle[] = "CPC printout";

// libcups is opened the first time a print job needs it: linked in, it and
// the ~30 libraries behind it (TLS, Kerberos, Avahi) were loaded at every
// start of the programs, printing or not.
struct CupsLibrary {
  decltype(&cupsGetNamedDest) GetNamedDest;
  decltype(&cupsFreeDests) FreeDests;
  decltype(&cupsLastError) LastError;
  decltype(&cupsLastErrorString) LastErrorString;
  decltype(&cupsCopyDestInfo) CopyDestInfo;
  decltype(&cupsCheckDestSupported) CheckDestSupported;
  decltype(&cupsFreeDestInfo) FreeDestInfo;
  decltype(&cupsCreateJob) CreateJob;
  decltype(&cupsStartDocument) StartDocument;
  decltype(&cupsWriteRequestData) WriteRequestData;
  decltype(&cupsFinishDocument) FinishDocument;
};

template <typename F>
bool Resolve(void* library, F& function, const char* name) {
  function = reinterpret_cast<F>(dlsym(library, name));
  return function != nullptr;
}

// Null when the print system's library is not installed.
const CupsLibrary* Cups() {
  static const CupsLibrary* const cups = []() -> const CupsLibrary* {
    void* library = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    static CupsLibrary c;
    const bool ok = Resolve(library, c.GetNamedDest, "cupsGetNamedDest") &&
                    Resolve(library, c.FreeDests, "cupsFreeDests") &&
                    Resolve(library, c.LastError, "cupsLastError") &&
                    Resolve(library, c.LastErrorString, "cupsLastErrorString") &&
                    Resolve(library, c.CopyDestInfo, "cupsCopyDestInfo") &&
                    Resolve(library, c.CheckDestSupported, "cupsCheckDestSupported") &&
                    Resolve(library, c.FreeDestInfo, "cupsFreeDestInfo") &&
                    Resolve(library, c.CreateJob, "cupsCreateJob") &&
                    Resolve(library, c.StartDocument, "cupsStartDocument") &&
                    Resolve(library, c.WriteRequestData, "cupsWriteRequestData") &&
                    Resolve(library, c.FinishDocument, "cupsFinishDocument");
    return ok ? &c : nullptr;
  }();
  return cups;
}

std::string CupsError(const CupsLibrary& cups) {
  const char* text = cups.LastErrorString();
  return text && *text ? text : "the print system did not answer";
}

}  // namespace

CupsPrinter::~CupsPrinter() {
  Close();
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::string CupsPrinter::DefaultDestination(std::string* why) {
  const CupsLibrary* cups = Cups();
  if (!cups) {
    if (why) *why = "the print system's library (libcups.so.2) is not installed";
    return {};
  }
  cups_dest_t* dest = cups->GetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
  if (!dest) {
    if (why) *why = cups->LastError() == IPP_STATUS_OK ? "no default printer is set" : CupsError(*cups);
    return {};
  }
  std::string name = dest->name;
  if (dest->instance) name += std::string("/") + dest->instance;
  cups->FreeDests(1, dest);
  return name;
}

std::string CupsPrinter::Open() {
  std::string why;
  dest_ = DefaultDestination(&why);
  if (dest_.empty()) return "Cannot print to the default printer: " + why;
  if (!thread_.joinable()) thread_ = std::thread([this] { Worker(); });
  return {};
}

void CupsPrinter::Close() {
  EndJob();
  Flush();
}

void CupsPrinter::Write(uint8_t value) { job_.push_back(value); }

void CupsPrinter::EndJob() {
  if (job_.empty()) return;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(job_));
  }
  job_.clear();
  work_.notify_one();
}

void CupsPrinter::Flush() {
  std::unique_lock lock(mutex_);
  // Without a worker (Open failed) nothing was queued.
  if (!thread_.joinable()) return;
  done_.wait(lock, [this] { return queue_.empty() && !sending_; });
}

void CupsPrinter::SetErrorHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard lock(mutex_);
  onError_ = std::move(handler);
}

void CupsPrinter::Worker() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing is left to send
    std::vector<uint8_t> data = std::move(queue_.front());
    queue_.pop_front();
    sending_ = true;
    lock.unlock();
    Send(data);
    lock.lock();
    sending_ = false;
    done_.notify_all();
  }
}

void CupsPrinter::Send(const std::vector<uint8_t>& data) {
  const char* name = dest_.c_str();
  std::string error;
  const CupsLibrary& cups = *Cups();  // Open found it, or no job is queued
  // Text is what an office printer prints readably (CUPS converts it for
  // the printer); a queue that takes no text, a raw one, gets the bytes.
  const char* format = CUPS_FORMAT_TEXT;
  if (cups_dest_t* dest = cups.GetNamedDest(CUPS_HTTP_DEFAULT, name, nullptr)) {
    if (cups_dinfo_t* info = cups.CopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
      if (!cups.CheckDestSupported(CUPS_HTTP_DEFAULT, dest, info, "document-format", CUPS_FORMAT_TEXT))
        format = CUPS_FORMAT_RAW;
      cups.FreeDestInfo(info);
    }
    cups.FreeDests(1, dest);
  }
  const int job = cups.CreateJob(CUPS_HTTP_DEFAULT, name, kJobTitle, 0, nullptr);
  if (job == 0) {
    error = CupsError(cups);
  } else if (cups.StartDocument(CUPS_HTTP_DEFAULT, name, job, kJobTitle, format, 1) != HTTP_STATUS_CONTINUE) {
    error = CupsError(cups);
  } else {
    const bool written = cups.WriteRequestData(CUPS_HTTP_DEFAULT, reinterpret_cast<const char*>(data.data()),
                                               data.size()) == HTTP_STATUS_CONTINUE;
    const bool finished = cups.FinishDocument(CUPS_HTTP_DEFAULT, name) == IPP_STATUS_OK;
    if (!written || !finished) error = CupsError(cups);
  }
  if (error.empty()) return;
  const std::string message = "The print job for " + dest_ + " failed: " + error;
  std::function<void(const std::string&)> report;
  {
    std::lock_guard lock(mutex_);
    report = onError_;
  }
  if (report)
    report(message);
  else
    std::cerr << message << "\n";
}
