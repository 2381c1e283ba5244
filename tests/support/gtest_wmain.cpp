// The cross build links every program with -municode, so its entry point is
// wmain; gtest_main only offers main.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
