// Test entry: runs GoogleTest, or, when started as "<exe> --sr-child NAME ...",
// the child function registered under NAME (see child_process.h).
#include <gtest/gtest.h>

#include <cstring>

#include "support/child_process.h"

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--sr-child") == 0) {
    return sr_test::RunRegisteredChild(argv[2], argc - 3, argv + 3);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
