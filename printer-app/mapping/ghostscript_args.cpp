#include "printer-app/mapping/ghostscript_args.h"

#include <cmath>

#include "printer-app/mapping/paper.h"

namespace zeruapp {

std::vector<std::string> ghostscriptArguments(const RenderRequest& request) {
  std::vector<std::string> args = {
      "gs",
      "-q",
      "-dSAFER",
      "-dBATCH",
      "-dNOPAUSE",
      "-dNOINTERPOLATE",
      "-sstdout=%stderr",
      "-sDEVICE=pwgraster",
      std::string("-dcupsColorSpace=") + (request.colour ? "19" : "18"),
      "-dcupsBitsPerColor=8",
      "-r" + std::to_string(request.resolution) + "x" + std::to_string(request.resolution),
      "-dDEVICEWIDTHPOINTS=" + std::to_string(request.widthPoints),
      "-dDEVICEHEIGHTPOINTS=" + std::to_string(request.heightPoints),
      "-dFIXEDMEDIA",
      "-dPDFFitPage",
  };
  if (request.firstPage > 0) args.push_back("-dFirstPage=" + std::to_string(request.firstPage));
  if (request.lastPage > 0) args.push_back("-dLastPage=" + std::to_string(request.lastPage));
  args.push_back("-sOutputFile=-");
  // "-f" ends the options: a file name that starts with "-" stays a file.
  args.push_back("-f");
  args.push_back(request.input);
  return args;
}

void sheetForMedia(const char* pwgName, int widthHundredthsMm, int lengthHundredthsMm,
                   unsigned& widthPoints, unsigned& heightPoints) {
  if (const Paper* paper = paperForPwgName(pwgName)) {
    widthPoints = paper->widthPoints;
    heightPoints = paper->heightPoints;
    return;
  }
  widthPoints = static_cast<unsigned>(std::lround(widthHundredthsMm * 72.0 / 2540.0));
  heightPoints = static_cast<unsigned>(std::lround(lengthHundredthsMm * 72.0 / 2540.0));
}

}  // namespace zeruapp
