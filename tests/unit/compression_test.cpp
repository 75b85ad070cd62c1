#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

extern "C" {
#include <jbig.h>
}

#include "jbig/compression.h"

namespace {

struct Decoded {
  int result = -1;
  unsigned long width = 0;
  unsigned long height = 0;
  std::vector<uint8_t> dots;
};

// Decodes one whole entity with the reference decoder.
Decoded decodeEntity(const uint8_t* data, size_t length) {
  Decoded decoded;
  jbg_dec_state state;
  jbg_dec_init(&state);
  jbg_dec_maxsize(&state, 1UL << 20, 1UL << 20);
  size_t used = 0;
  decoded.result = jbg_dec_in(&state, const_cast<unsigned char*>(data), length, &used);
  if (decoded.result == JBG_EOK) {
    decoded.width = jbg_dec_getwidth(&state);
    decoded.height = jbg_dec_getheight(&state);
    const unsigned char* image = jbg_dec_getimage(&state, 0);
    decoded.dots.assign(image, image + jbg_dec_getsize(&state));
  }
  jbg_dec_free(&state);
  return decoded;
}

uint32_t be32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         bytes[3];
}

// Stripes of a single-layer entity without AT moves: each ends in ESC SDRST
// (0xFF 0x03); a 0xFF inside the coded data is always followed by 0x00.
int countStripeEnds(const std::vector<uint8_t>& entity) {
  int count = 0;
  for (size_t i = 20; i + 1 < entity.size(); ++i)
    if (entity[i] == 0xFF && entity[i + 1] == 0x03) ++count;
  return count;
}

std::vector<uint8_t> noisePlane(size_t bytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> plane(bytes);
  for (uint8_t& byte : plane) byte = static_cast<uint8_t>(random());
  return plane;
}

// A plane with a few shapes: a frame, a diagonal and a filled block.
std::vector<uint8_t> drawnPlane(unsigned width, unsigned height) {
  size_t bytesPerLine = (width + 7) / 8;
  std::vector<uint8_t> plane(bytesPerLine * height);
  auto set = [&](unsigned x, unsigned y) {
    plane[y * bytesPerLine + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  };
  for (unsigned x = 0; x < width; ++x) set(x, 0), set(x, height - 1);
  for (unsigned y = 0; y < height; ++y) set(0, y), set(width - 1, y), set(y % width, y);
  for (unsigned y = height / 4; y < height / 2; ++y)
    for (unsigned x = width / 3; x < width / 2; ++x) set(x, y);
  return plane;
}

PlaneBuffers handFilledPage(int planeCount, int lineWidth, size_t lines) {
  PlaneBuffers page;
  page.planeCount = planeCount;
  page.lineWidth = lineWidth;
  page.bytesPerLine = static_cast<size_t>(lineWidth) / 8;
  page.lines = lines;
  for (int p = 0; p < 4; ++p)
    if (page.usesPlane(p)) page.plane[p].assign(page.bytesPerLine * lines, 0);
  return page;
}

}  // namespace

TEST(PlaneCompression, DecodesBackToTheSameDots) {
  const unsigned width = 640, height = 300;
  std::vector<uint8_t> plane = drawnPlane(width, height);
  std::vector<uint8_t> entity;
  uint32_t length = compressPlane(plane.data(), width, height, entity);
  ASSERT_EQ(length, entity.size());
  Decoded decoded = decodeEntity(entity.data(), entity.size());
  ASSERT_EQ(decoded.result, JBG_EOK);
  EXPECT_EQ(decoded.width, width);
  EXPECT_EQ(decoded.height, height);
  EXPECT_EQ(decoded.dots, plane);
}

TEST(PlaneCompression, HeaderCarriesSizeStripeHeightAndOptions) {
  const unsigned width = 5120, height = 200;
  std::vector<uint8_t> plane(width / 8 * height);
  std::vector<uint8_t> entity;
  ASSERT_GE(compressPlane(plane.data(), width, height, entity), 20u);
  EXPECT_EQ(entity[0], 0);                  // lowest layer
  EXPECT_EQ(entity[1], 0);                  // highest layer: a single one
  EXPECT_EQ(entity[2], 1);                  // one bit plane
  EXPECT_EQ(be32(&entity[4]), width);
  EXPECT_EQ(be32(&entity[8]), height);
  EXPECT_EQ(be32(&entity[12]), 128u);       // l0
  EXPECT_EQ(entity[16], 0);                 // mx
  EXPECT_EQ(entity[17], 0);                 // my
  EXPECT_EQ(entity[18], 0);                 // order
  EXPECT_EQ(entity[19], JBG_LRLTWO);        // two-line template, no TPBON, no DPON
}

TEST(PlaneCompression, BlankPlaneStillGivesAWholeEntity) {
  const unsigned width = 1024, height = 300;
  std::vector<uint8_t> plane(width / 8 * height, 0);
  std::vector<uint8_t> entity;
  ASSERT_GT(compressPlane(plane.data(), width, height, entity), 20u);
  EXPECT_EQ(countStripeEnds(entity), 3);    // 128 + 128 + 44 lines
  Decoded decoded = decodeEntity(entity.data(), entity.size());
  ASSERT_EQ(decoded.result, JBG_EOK);
  EXPECT_EQ(decoded.dots, plane);
}

TEST(PlaneCompression, FewerThan128LinesGiveOneStripe) {
  const unsigned width = 256;
  for (unsigned height : {1u, 100u, 127u, 128u}) {
    std::vector<uint8_t> plane = drawnPlane(width, height);
    std::vector<uint8_t> entity;
    compressPlane(plane.data(), width, height, entity);
    EXPECT_EQ(countStripeEnds(entity), 1) << height << " lines";
    Decoded decoded = decodeEntity(entity.data(), entity.size());
    ASSERT_EQ(decoded.result, JBG_EOK) << height << " lines";
    EXPECT_EQ(decoded.dots, plane) << height << " lines";
  }
}

TEST(PlaneCompression, NoiseFitsTheReservedRoomAndDecodes) {
  const unsigned width = 2048, height = 1000;
  std::vector<uint8_t> plane = noisePlane(width / 8 * height, 7);
  std::vector<uint8_t> entity;
  uint32_t length = compressPlane(plane.data(), width, height, entity);
  EXPECT_GT(length, plane.size() * 9 / 10);  // noise does not compress
  EXPECT_LE(length, maxCompressedSize(width / 8, height));
  Decoded decoded = decodeEntity(entity.data(), entity.size());
  ASSERT_EQ(decoded.result, JBG_EOK);
  EXPECT_EQ(decoded.dots, plane);
}

TEST(PlaneCompression, OutputReplacesWhatTheBufferHeld) {
  const unsigned width = 64, height = 10;
  std::vector<uint8_t> plane = drawnPlane(width, height);
  std::vector<uint8_t> entity(5, 0xAA);     // a small, stale buffer
  uint32_t length = compressPlane(plane.data(), width, height, entity);
  ASSERT_EQ(length, entity.size());
  EXPECT_EQ(entity[2], 1);
  EXPECT_EQ(decodeEntity(entity.data(), entity.size()).dots, plane);
}

TEST(PlaneCompression, EmptyPlaneGivesNothing) {
  std::vector<uint8_t> entity{1, 2, 3};
  EXPECT_EQ(compressPlane(nullptr, 64, 10, entity), 0u);
  EXPECT_TRUE(entity.empty());
}

TEST(PageCompression, ColourPageStoresEachPlaneLengthInItsOwnField) {
  PlaneBuffers page = handFilledPage(4, 512, 150);
  for (int p = 0; p < 4; ++p) page.plane[p] = noisePlane(page.plane[p].size(), 100 + p);
  page.plane[1].assign(page.plane[1].size(), 0);  // one plane with no dots
  PageStartRecord record;
  compressPage(page, record);

  uint32_t total = 0;
  for (int p = 0; p < 4; ++p) {
    SCOPED_TRACE(p);
    ASSERT_GT(page.compressedLength[p], 20u);
    EXPECT_EQ(record.planeLength(p), page.compressedLength[p]);
    EXPECT_EQ(getLe32(record.bytes().data(), PageStartRecord::kPlaneLengthOffset[p]),
              page.compressedLength[p]);
    Decoded decoded = decodeEntity(page.compressed[p].data(), page.compressedLength[p]);
    ASSERT_EQ(decoded.result, JBG_EOK);
    EXPECT_EQ(decoded.dots, page.plane[p]);
    total += page.compressedLength[p];
  }
  EXPECT_LT(page.compressedLength[1], page.compressedLength[0]);
  EXPECT_EQ(getLe32(record.bytes().data(), 20), total);
}

TEST(PageCompression, GrayscalePageUsesPlaneThreeAlone) {
  PlaneBuffers page = handFilledPage(1, 256, 40);
  page.plane[3] = drawnPlane(256, 40);
  PageStartRecord record;
  record.setPlaneLength(0, 77);  // provisional values must not survive
  compressPage(page, record);

  ASSERT_GT(page.compressedLength[3], 20u);
  EXPECT_EQ(record.planeLength(3), page.compressedLength[3]);
  EXPECT_EQ(getLe32(record.bytes().data(), 20), page.compressedLength[3]);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(record.planeLength(p), 0u);
    EXPECT_EQ(page.compressedLength[p], 0u);
  }
  EXPECT_EQ(decodeEntity(page.compressed[3].data(), page.compressedLength[3]).dots,
            page.plane[3]);
}

TEST(PageCompression, EntitySizeMatchesTheRecordsDotsAndLines) {
  PlaneBuffers page = handFilledPage(4, 10240, 20);
  PageStartRecord record;
  record.setRaster(10240, 20, 4 * 20 * 1280, 1200);
  compressPage(page, record);
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(be32(&page.compressed[p][4]), getLe32(record.bytes().data(), 8));
    EXPECT_EQ(be32(&page.compressed[p][8]), getLe32(record.bytes().data(), 12));
  }
}

TEST(PageCompression, PlaneShorterThanItsSizeIsNotReadPastItsEnd) {
  PlaneBuffers page = handFilledPage(1, 64, 10);
  page.plane[3].resize(8 * 9);  // one line short
  PageStartRecord record;
  record.setPlaneLength(3, 99);
  compressPage(page, record);
  EXPECT_EQ(page.compressedLength[3], 0u);
  EXPECT_EQ(record.planeLength(3), 0u);
}
