// Hosts for tests/torture/kill9.py, started as
//   integration_tests --sr-child TortureHost SEED
//   integration_tests --sr-child TortureRecover
// TortureHost records from two threads into reports 0, 2 and 4 with a short
// save period, asks for uploads and stops and starts again, until it is
// killed. TortureRecover takes up what killed hosts left and exits.
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "pcf/filebase.h"
#include "pcf/pcf_body.h"
#include "pcf/pcf_file_impl.h"
#include "pcf/pcf_header.h"
#include "platform/text.h"
#include "statrelay/statrelay.h"
#include "support/child_process.h"

namespace {

void Record(unsigned seed, const std::atomic<bool>& stop) {
  std::mt19937 random(seed);
  const int reports[] = {0, 2, 4};
  while (!stop.load()) {
    const int report = reports[random() % 3];
    switch (random() % 4) {
      case 0: SR_W(0x05000000 + random() % 64, report); break;
      case 1: SR_WW(0x02000000 + random() % 64, static_cast<int>(random()), report); break;
      case 2: SR_WS(0x04000000 + random() % 16, SRT("a text of the list"), report); break;
      default: SR_WS(0x02000100 + random() % 16, SrString(random() % 300, SRT('x')).c_str(), report);
    }
    if (random() % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
  }
}

SR_TEST_CHILD(TortureHost) {
  const unsigned seed = argc > 0 ? static_cast<unsigned>(std::stoul(argv[0])) : 1;
  Filebase::SetSaveTimerPeriodForTest(15);
  std::mt19937 random(seed);
  CPCFParam param(SRT("1.2.3.4"), SRT("torture"), SRT("http://report.example/t"));
  for (;;) {
    for (int report : {0, 2, 4}) Start(report, &param);
    std::atomic<bool> stop{false};
    std::thread a(Record, seed * 2 + 1, std::cref(stop));
    std::thread b(Record, seed * 2 + 2, std::cref(stop));
    for (int i = 0; i < 20; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
      if (random() % 3 == 0) UploadAllNowSync();
    }
    stop.store(true);
    a.join();
    b.join();
    Stop();
  }
}

SR_TEST_CHILD(TortureRecover) {
  CPCFFileImpl file(new CPCFHeader, new CPCFBody, nullptr);
  file.RecoverPendingFiles();
  return 0;
}

}  // namespace
