// The Ghostscript command that renders a PDF or PostScript job into a PWG
// raster of whole sheets, for the same raster path as a client's PWG job.
#pragma once

#include <string>
#include <vector>

namespace zeruapp {

struct RenderRequest {
  std::string input;           // the job's file
  unsigned widthPoints = 0;    // the sheet
  unsigned heightPoints = 0;
  int resolution = 600;
  bool colour = true;
  unsigned firstPage = 0;      // 0: from the first page
  unsigned lastPage = 0;       // 0: to the last page
};

// The program's arguments, argv[0] ("gs") first: no shell, -dSAFER, the
// raster on standard output and Ghostscript's own messages on standard error.
std::vector<std::string> ghostscriptArguments(const RenderRequest& request);

// The sheet of a job's media: the paper table's size in points for its
// name, else its size in hundredths of a millimetre rounded to points.
void sheetForMedia(const char* pwgName, int widthHundredthsMm, int lengthHundredthsMm,
                   unsigned& widthPoints, unsigned& heightPoints);

}  // namespace zeruapp
