// Test doubles: a report file whose body writes every operation it receives,
// with the thread it ran on, into a process-wide journal. Used by the report,
// api and pcf tests through CReportManager::SetFileFactoryForTest.
#ifndef STATRELAY_TESTS_REPORT_RECORDING_FILE_H_
#define STATRELAY_TESTS_REPORT_RECORDING_FILE_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pcf/component.h"
#include "pcf/pcf_file_impl.h"
#include "support/sandbox.h"

namespace sr_test {

struct Recorded {
  int report;
  std::string what;  // "WW 7 1", "WS 7 text", "save", "param url", "deleted"
  std::thread::id thread;
};

class Journal {
 public:
  static Journal& Get() {
    static Journal journal;
    return journal;
  }
  void Add(int report, std::string what) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      entries_.push_back(Recorded{report, std::move(what), std::this_thread::get_id()});
    }
    cv_.notify_all();
  }
  std::vector<Recorded> Entries() {
    std::lock_guard<std::mutex> lock(mu_);
    return entries_;
  }
  // The texts of one report's entries, in order.
  std::vector<std::string> Of(int report) {
    std::vector<std::string> out;
    for (const Recorded& r : Entries()) {
      if (r.report == report) out.push_back(r.what);
    }
    return out;
  }
  // Waits until `count` entries exist (10 s at most).
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return entries_.size() >= count; });
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    entries_.clear();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Recorded> entries_;
};

class RecordingBody : public Bodybase {
 public:
  explicit RecordingBody(int report) : report_(report) {}
  ~RecordingBody() override { Journal::Get().Add(report_, "body deleted"); }
  int Serialize(uint8_t*, uint32_t* length) override {
    *length = 0;
    return 0;
  }
  int ReportWW(uint32_t key, int32_t number) override {
    Journal::Get().Add(report_, "WW " + std::to_string(key) + " " + std::to_string(number));
    return 1;
  }
  int ReportWS(uint32_t key, const SrString& text) override {
    Journal::Get().Add(report_, "WS " + std::to_string(key) + " [" + U8(text) + "]");
    return 1;
  }
  int ReportSW(const SrString& name, int32_t number) override {
    Journal::Get().Add(report_, "SW [" + U8(name) + "] " + std::to_string(number));
    return 0;
  }
  int ReportSS(const SrString& name, const SrString& text) override {
    Journal::Get().Add(report_, "SS [" + U8(name) + "] [" + U8(text) + "]");
    return 0;
  }
  int SetParam(ParamBase* param) override {
    Journal::Get().Add(report_, "param [" + U8(text::FromPtr(param ? param->ReportUrl() : nullptr)) + "]");
    return 1;
  }

 private:
  int report_;
};

class NullHeader : public Headerbase {
 public:
  int Serialize(uint8_t*, uint32_t* length) override {
    *length = 0;
    return 0;
  }
};

// Every save that reaches SaveInternal shows as "save" (reporting is off, so
// nothing else happens).
class RecordingFile : public CPCFFileImpl {
 public:
  explicit RecordingFile(int report)
      : CPCFFileImpl(new NullHeader, new RecordingBody(report), nullptr), report_(report) {}
  ~RecordingFile() override {
    Teardown();
    Journal::Get().Add(report_, "deleted");
  }
  Consent ReadConsent() override {
    Journal::Get().Add(report_, "save");
    return Consent::kOff;
  }
  // Lets a test take the worker away while the object lives.
  void StopWorker() { task_.StopThread(); }

 private:
  int report_;
};

inline Filebase* MakeRecordingFile(int report) { return new RecordingFile(report); }

}  // namespace sr_test

#endif  // STATRELAY_TESTS_REPORT_RECORDING_FILE_H_
