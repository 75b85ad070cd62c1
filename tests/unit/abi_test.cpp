#include <gtest/gtest.h>

#include "imaging/engine_abi.h"

TEST(EngineAbi, RecordsHaveTheirFixedSizes) {
  EXPECT_EQ(sizeof(EngineSetup), 80u);
  EXPECT_EQ(sizeof(AdjustRecord), 96u);
}
