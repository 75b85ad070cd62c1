// The colour engine's per-page set-up: the two records it reads, the model
// path, and the fixed order of calls over the page's four instances.
#pragma once

#include <array>
#include <functional>

#include "settings/job_settings.h"
#include "imaging/engine_abi.h"
#include "imaging/engine_loader.h"

inline constexpr int kEngineInstances = 4;

// Instance 0's set-up block (instances 1..3 differ only in the callbacks).
EngineSetup buildEngineSetup(const JobSettings& settings, unsigned hwResolution,
                             const char* modelPath, GetOutputLineFn getOutputLine,
                             LineReadyFn lineReady);

AdjustRecord buildAdjustRecord(const JobSettings& settings);

// The four instances of one page.
struct EnginePage {
  std::array<int, kEngineInstances> handles{-1, -1, -1, -1};
  std::array<AdjustRecord, kEngineInstances> adjust{};
  std::array<EngineSetup, kEngineInstances> setup{};
};

// Prepares four instances: InitZARVEL x4, StartAdjustJob x4, CreateZARVEL x4,
// UpdateScreenThread x4, then `afterScreenThreads` (the status probe and the
// ImageRotation read), then UpdateScreenTonerTRC x4. Returns false when the
// engine refuses (a negative handle or UpdateScreenThread result); the
// instances it did make are then ended, so that a refused page holds none
// of the library's instances.
bool prepareEnginePage(const EngineLibrary& library, const JobSettings& settings,
                       unsigned hwResolution, const char* modelPath,
                       const std::array<GetOutputLineFn, kEngineInstances>& getOutputLine,
                       const std::array<LineReadyFn, kEngineInstances>& lineReady,
                       const std::function<void()>& afterScreenThreads,
                       EnginePage& page);

// EndZARVEL for each instance the page holds (a refused InitZARVEL's
// negative handle is no instance).
void endEnginePage(const EngineLibrary& library, const EnginePage& page);
