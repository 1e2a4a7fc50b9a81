// A main for GoogleTest programs that reports each run through the listener when
// MORVI_GTEST_OUTPUT (or --morvi_output) names a folder; link it in place of gtest_main.
#include <gtest/gtest.h>

#include "morvi/service/gtest_listener/listener.hpp"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  morvi::service::gtest_listener::install(argc, argv);
  return RUN_ALL_TESTS();
}
