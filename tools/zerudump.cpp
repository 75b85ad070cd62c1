// zerudump: prints and checks a job stream, and writes page previews.
//
//   zerudump [--json] [--png DIR [--scale N] [--planes]] [FILE|-]
//
// Exit status: 0 for a stream without problems, 1 when a problem was found,
// 2 when the stream could not be read, a preview could not be written or
// the command line is wrong.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/preview.h"
#include "tools/stream_reader.h"
#include "tools/stream_report.h"

using namespace zerudump;

namespace {

constexpr int kExitClean = 0;
constexpr int kExitProblems = 1;
constexpr int kExitFailure = 2;

const char kUsage[] =
    "Usage: zerudump [--json] [--png DIR [--scale N] [--planes]] [FILE|-]\n"
    "Prints and checks a job stream read from FILE or standard input.\n"
    "  --json       print the report as JSON\n"
    "  --png DIR    write a PNG preview of every page side into DIR, made if missing\n"
    "  --scale N    reduce the previews by averaging N x N dots\n"
    "  --planes     also write every plane as a 1-bit PNG\n";

bool readAll(FILE* file, std::vector<uint8_t>& bytes) {
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  return !std::ferror(file);
}

std::string pagePath(const std::string& dir, int page, int plane) {
  char name[64];
  if (plane < 0) {
    std::snprintf(name, sizeof name, "page-%03d.png", page);
  } else {
    std::snprintf(name, sizeof name, "page-%03d-plane%d.png", page, plane);
  }
  return dir + "/" + name;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  bool planes = false;
  std::string pngDir;
  unsigned scale = 1;
  const char* input = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--planes") {
      planes = true;
    } else if (arg == "--png" && i + 1 < argc) {
      pngDir = argv[++i];
    } else if (arg == "--scale" && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(argv[++i], &end, 10);
      if (*end != '\0' || value == 0 || value > 1024) {
        std::fprintf(stderr, "zerudump: --scale wants a number from 1 to 1024\n");
        return kExitFailure;
      }
      scale = unsigned(value);
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitClean;
    } else if ((arg.size() > 1 && arg[0] == '-') || input) {
      std::fputs(kUsage, stderr);
      return kExitFailure;
    } else {
      input = argv[i];
    }
  }
  if (planes && pngDir.empty()) {
    std::fprintf(stderr, "zerudump: --planes needs --png DIR\n");
    return kExitFailure;
  }

  std::vector<uint8_t> bytes;
  FILE* file = (!input || std::strcmp(input, "-") == 0) ? stdin : std::fopen(input, "rb");
  if (!file) {
    std::fprintf(stderr, "zerudump: %s: %s\n", input, std::strerror(errno));
    return kExitFailure;
  }
  const bool readOk = readAll(file, bytes);
  if (file != stdin) std::fclose(file);
  if (!readOk) {
    std::fprintf(stderr, "zerudump: cannot read %s\n", input ? input : "standard input");
    return kExitFailure;
  }

  // The preview directory is made with its parents, as mkdir -p would.
  if (!pngDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(pngDir, error);
    if (error || !std::filesystem::is_directory(pngDir)) {
      std::fprintf(stderr, "zerudump: cannot create the preview directory %s: %s\n", pngDir.c_str(),
                   (error ? error : std::make_error_code(std::errc::not_a_directory)).message().c_str());
      return kExitFailure;
    }
  }

  // Previews are written page by page while the planes are decoded, so that
  // only one page's planes are held at a time.
  bool writeFailed = false;
  ParseOptions options;
  if (!pngDir.empty()) {
    options.pageDone = [&](PageBlock& page) {
      std::string error;
      const PreviewImage preview = composePagePreview(page, scale);
      if (preview.width == 0) {
        std::fprintf(stderr, "zerudump: page %d: no plane decodes, no preview written\n", page.number);
      } else if (!writePreviewPng(pagePath(pngDir, page.number, -1), preview, error)) {
        std::fprintf(stderr, "zerudump: %s\n", error.c_str());
        writeFailed = true;
      }
      if (!planes) return;
      for (const auto& entity : page.planes) {
        if (entity.decoded.bits.empty()) continue;
        if (!writePlanePng(pagePath(pngDir, page.number, entity.plane), entity.decoded, error)) {
          std::fprintf(stderr, "zerudump: %s\n", error.c_str());
          writeFailed = true;
        }
      }
    };
  }
  const JobStream stream = parseJobStream(bytes, options);
  const std::string report = json ? formatJsonReport(stream) : formatTextReport(stream);
  std::fwrite(report.data(), 1, report.size(), stdout);
  if (std::fflush(stdout) != 0) return kExitFailure;
  if (writeFailed) return kExitFailure;
  return stream.clean() ? kExitClean : kExitProblems;
}
