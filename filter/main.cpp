// rastertozeru: CUPS raster in, the printer's job stream out.
#include "filter/job.h"

int main(int argc, char* argv[]) { return runFilter(argc, argv); }
