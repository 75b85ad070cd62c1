// The descriptors the spooler hands a filter: 0 the raster input, 1 the
// printer, 2 the status lines, 3 the back channel, 4 the side channel.
#pragma once

// Opens /dev/null on every one of descriptors 0 to 4 that is closed, so that
// no file the filter opens later (a spool file, the log) takes the number of
// one of them and receives what was meant for it. Returns false when
// /dev/null cannot be opened.
bool openMissingDescriptors();
