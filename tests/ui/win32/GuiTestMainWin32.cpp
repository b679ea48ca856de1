// The main of the Windows GUI tests: COM for the image decoder and encoder on
// the test thread, for the whole run.
#include <gtest/gtest.h>

#include "platform/visual/VisualApp.h"

int main(int argc, char** argv) {
  CVisualApp app;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
