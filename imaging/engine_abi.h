// The colour library's binary interface: the records it reads and its entry
// points. Shared by the filter and by our own stand-in library in engine/.
//
// Both records are read by the library in native byte order; their layout is
// pinned below with static_asserts. It is the same on 32-bit platforms: each
// address has an 8-byte slot, of which it takes the first four bytes there
// (little-endian, so the slot reads as the address), the rest zero.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if UINTPTR_MAX == UINT32_MAX
// The upper half of an address's 8-byte slot on a 32-bit platform.
#define ZERU_ADDRESS_SLOT_REST(name) uint32_t name;
#else
#define ZERU_ADDRESS_SLOT_REST(name)
#endif

extern "C" {

// Per-instance callbacks. They take no arguments: each is bound to one
// engine instance. getOutputLine returns the buffer that receives the next
// converted line; lineReady says that the line is in it.
typedef unsigned char* (*GetOutputLineFn)(void);
typedef int (*LineReadyFn)(void);

struct EngineSetup {
  GetOutputLineFn getOutputLine;   // 0
  ZERU_ADDRESS_SLOT_REST(getOutputLineRest)
  LineReadyFn lineReady;           // 8
  ZERU_ADDRESS_SLOT_REST(lineReadyRest)
  uint64_t reserved0;              // 16
  uint32_t renderFlags;            // 24: 0x44, or 0x48 complementary; +0x2000 gray guarantee
  uint32_t lineWidth;              // 28: dots
  uint32_t scaleX;                 // 32: 10000
  uint32_t scaleY;                 // 36: 10000
  uint32_t imageType;              // 40
  uint32_t screenWord;             // 44: 0x101 (600 dpi) or 0x401 (1200 dpi) | screenMode
  uint32_t resolutionWord;         // 48: 12 at 600 dpi, else 24
  uint32_t reserved1;              // 52
  uint8_t colourLayout;            // 56: 2 colour, 1 grayscale
  uint8_t planeLayout;             // 57: 4 colour, 9 grayscale
  uint8_t one58;                   // 58: 1
  uint8_t one59;                   // 59: 1
  uint32_t channelWord;            // 60: 2222 colour, 2 grayscale
  uint32_t modeWord;               // 64: 2 colour, 0 grayscale
  uint32_t reserved2;              // 68
  const char* modelPath;           // 72
  ZERU_ADDRESS_SLOT_REST(modelPathRest)
};

struct AdjustRecord {
  uint32_t adjustFlags;            // 0
  uint8_t reserved[28];            // 4
  int32_t brightness[4];           // 32
  int32_t contrast[4];             // 48: background, image, graphics, text
  int32_t chroma[4];               // 64: background, image, graphics, text
  int32_t densityCode[4];          // 80: black, cyan, magenta, yellow
};

// Render flags.
enum : uint32_t {
  kRenderNormal = 0x44,
  kRenderComplementary = 0x48,
  kRenderGrayGuarantee = 0x2000,
};

// Entry points, looked up by name.
typedef int (*ZARVELFn)(int handle, unsigned char* line, void* reserved, int one, int lineNumber);
typedef int (*InitZARVELFn)(EngineSetup* setup);
typedef int (*CreateZARVELFn)(int handle);
typedef int (*EndZARVELFn)(int handle);
typedef int (*StartColorAdjustFn)(int handle, void* unused);
typedef int (*StartAdjustJobFn)(int handle, AdjustRecord* adjust);
typedef int (*UpdateScreenThreadFn)(int handle, int instances, int index);
typedef int (*UpdateScreenTRCFn)(int handle, int a, int b);
typedef int (*UpdateScreenTonerTRCFn)(int handle, int tonerMode, int zero);

// Optional: how many pages the library converts safely at once, each with
// its own four instances. A library without it is given one page at a time.
typedef int (*ZeruConcurrentPagesFn)(void);

}  // extern "C"

static_assert(sizeof(void*) == 8 || std::endian::native == std::endian::little,
              "a 32-bit address fills the first half of its slot only when little-endian");
static_assert(sizeof(EngineSetup) == 80);
static_assert(offsetof(EngineSetup, lineReady) == 8);
static_assert(offsetof(EngineSetup, renderFlags) == 24);
static_assert(offsetof(EngineSetup, lineWidth) == 28);
static_assert(offsetof(EngineSetup, imageType) == 40);
static_assert(offsetof(EngineSetup, screenWord) == 44);
static_assert(offsetof(EngineSetup, resolutionWord) == 48);
static_assert(offsetof(EngineSetup, colourLayout) == 56);
static_assert(offsetof(EngineSetup, planeLayout) == 57);
static_assert(offsetof(EngineSetup, channelWord) == 60);
static_assert(offsetof(EngineSetup, modeWord) == 64);
static_assert(offsetof(EngineSetup, modelPath) == 72);

static_assert(sizeof(AdjustRecord) == 96);
static_assert(offsetof(AdjustRecord, brightness) == 32);
static_assert(offsetof(AdjustRecord, contrast) == 48);
static_assert(offsetof(AdjustRecord, chroma) == 64);
static_assert(offsetof(AdjustRecord, densityCode) == 80);
