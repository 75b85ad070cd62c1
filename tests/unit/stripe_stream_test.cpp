// Stripe-by-stripe compression while lines are placed, against JBIG-KIT's
// compression of the finished planes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "jbig/compression.h"
#include "jbig/stripe_stream.h"

namespace {

void fillLine(PlaneBuffers& planes, size_t y, std::mt19937& random) {
  for (int p = 0; p < 4; ++p) {
    if (!planes.usesPlane(p)) continue;
    uint8_t* line = planes.plane[p].data() + y * planes.bytesPerLine;
    // Blank, solid and noisy stretches, different per plane and line.
    for (size_t b = 0; b < planes.bytesPerLine; ++b) {
      unsigned kind = (b / 16 + y / 7 + static_cast<unsigned>(p)) % 4;
      line[b] = kind == 0 ? 0 : kind == 1 ? 0xFF : static_cast<uint8_t>(random() & random());
    }
  }
}

// Places the page's lines as the four engine instances do, each on its own
// thread (lines y mod 4, top down or bottom up), leaving out `skipped`: its
// dots are written but never reported, as a line no engine placed.
void placeLines(PlaneBuffers& planes, StreamingCompression& stream, bool bottomUp, size_t skipped) {
  std::vector<std::thread> instances;
  for (size_t k = 0; k < 4; ++k) {
    instances.emplace_back([&, k] {
      std::mt19937 random(static_cast<uint32_t>(k));
      for (size_t n = k; n < planes.lines; n += 4) {
        size_t y = bottomUp ? planes.lines - 1 - n : n;
        fillLine(planes, y, random);
        if (y != skipped) stream.linePlaced(y);
      }
    });
  }
  for (std::thread& t : instances) t.join();
}

void expectSameAsJbigKit(PlaneBuffers& streamed, const PageStartRecord& record) {
  PlaneBuffers whole = streamed;
  whole.stream.reset();
  PageStartRecord reference;
  compressPage(whole, reference, JbigCoder::JbigKit);
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(streamed.compressedLength[p], whole.compressedLength[p]) << "plane " << p;
    if (streamed.usesPlane(p)) {
      std::vector<uint8_t> a(streamed.compressed[p].begin(),
                             streamed.compressed[p].begin() + streamed.compressedLength[p]);
      std::vector<uint8_t> b(whole.compressed[p].begin(),
                             whole.compressed[p].begin() + whole.compressedLength[p]);
      EXPECT_EQ(a, b) << "plane " << p;
    }
  }
  EXPECT_EQ(record.bytes(), reference.bytes());
}

}  // namespace

TEST(StripeCompression, LinesPlacedInAnyOrderGiveJbigKitsEntities) {
  struct Case {
    int colorMode;
    int lineWidth;
    size_t lines;
    bool bottomUp;
    size_t skipped;
  };
  const Case cases[] = {
      {1, 1024, 300, false, SIZE_MAX}, {1, 1024, 300, true, SIZE_MAX},
      {1, 2040, 257, false, 130},      {0, 4960, 129, true, 0},
      {0, 64, 1, false, SIZE_MAX},     {1, 512, 128, true, SIZE_MAX},
  };
  PlaneBuffers planes;
  planes.stream = std::make_shared<StripeStream>(2);
  for (const Case& c : cases) {
    // One stream for every page, as the driver keeps it with the buffers.
    ASSERT_TRUE(allocatePlaneBuffers(planes, c.colorMode, c.lineWidth, c.lines));
    planes.stream->begin(planes);
    ASSERT_TRUE(planes.stream->active());
    placeLines(planes, *planes.stream, c.bottomUp, c.skipped);
    PageStartRecord record;
    compressPage(planes, record);
    EXPECT_FALSE(planes.stream->active());
    expectSameAsJbigKit(planes, record);
  }
}

TEST(StripeCompression, DroppedPageAndUnusablePageLeaveNoWork) {
  PlaneBuffers planes;
  planes.stream = std::make_shared<StripeStream>(3);
  ASSERT_TRUE(allocatePlaneBuffers(planes, 1, 256, 200));
  planes.stream->begin(planes);
  placeLines(planes, *planes.stream, false, SIZE_MAX);
  planes.stream->abandon();
  EXPECT_FALSE(planes.stream->active());

  // A width that is not whole bytes is left to compressPage as before.
  ASSERT_TRUE(allocatePlaneBuffers(planes, 1, 100, 10));
  planes.stream->begin(planes);
  EXPECT_FALSE(planes.stream->active());
  PageStartRecord record;
  compressPage(planes, record);
  EXPECT_EQ(planes.compressedLength[0], 0u);
}
