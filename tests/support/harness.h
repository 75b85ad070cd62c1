// The whole test harness in one include, for integration tests:
//   temp_dir.h       TempDir (under the build dir), whole-file helpers
//   raster_writer.h  CUPS raster jobs: headers, pixel functions, hostile and
//                    truncated streams, reading back
//   ppd_writer.h     PpdBuilder: test PPDs with any options and defaults
//   filter_runner.h  runFilter: the filter as CUPS runs it, in a private
//                    mount namespace with its own /tmp and engine directory
//   engine_log.h     the test engine's call log, parsed
#pragma once

#include "support/engine_log.h"
#include "support/filter_runner.h"
#include "support/ppd_writer.h"
#include "support/raster_writer.h"
#include "support/temp_dir.h"
