// The Printer Application's system: its server options, drivers and state.
#pragma once

namespace zeruapp {

int runMainloop(int argc, char* argv[]);

}  // namespace zeruapp
