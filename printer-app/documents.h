// PDF and PostScript documents, rendered by Ghostscript in a process of its
// own, and spooled raster files: both go into the job as raster.
#pragma once

#include <sys/types.h>

#include <deque>
#include <string>
#include <vector>

#include <pappl/pappl.h>

namespace zeruapp {

// PDF and PostScript jobs: Ghostscript, run as a separate process, renders
// them into a PWG raster of whole sheets, which goes the way of a client's
// PWG job, line by line into the core. A spooled PWG raster file goes the
// same way.

// PAPPL's filter callback for application/pdf and application/postscript.
bool renderDocument(pappl_job_t* job, pappl_device_t* device, void* data);

// PAPPL's filter callback for a PWG raster file that was spooled rather than
// streamed (the test page): its pages go the same way, from the file.
bool printRasterFile(pappl_job_t* job, pappl_device_t* device, void* data);

// Ghostscript as a child process the job keeps under control: its raster
// read with a time-out so that a cancel is seen at once, a wall-clock limit
// per page and a CPU-time limit, its messages in the job's log, and a
// private temporary folder that goes when the job ends.

// How long Ghostscript may take, set once at start-up from the server's
// options.
struct RenderLimits {
  unsigned pageSeconds = 120;  // wall-clock time for one page
  unsigned cpuSeconds = 1800;  // CPU time for the whole job (RLIMIT_CPU)
};

void setRenderLimits(const RenderLimits& limits, const char* spoolDirectory);
const RenderLimits& renderLimits();

// A limit given as a server option ("-o NAME=SECONDS"): the default when the
// option is absent or not a whole number from 1 to 86400.
unsigned limitOption(const char* value, unsigned fallback);

class GhostscriptProcess {
 public:
  explicit GhostscriptProcess(pappl_job_t* job) : job_(job) {}
  ~GhostscriptProcess();
  GhostscriptProcess(const GhostscriptProcess&) = delete;
  GhostscriptProcess& operator=(const GhostscriptProcess&) = delete;

  // Starts `program` with `args` (argv[0] first); false with errno set when
  // it cannot be started.
  bool start(const std::string& program, std::vector<std::string> args);

  // Reads raster bytes for libcups: 0 at the end of Ghostscript's output,
  // on cancel and when the page takes longer than its limit.
  ssize_t read(unsigned char* buffer, size_t bytes);

  // A new page began: its own wall-clock limit starts now.
  void pageStarted();

  // Ends Ghostscript (at once when `stop`) and waits for it; true when it
  // ended by itself with status 0.
  bool finish(bool stop);

  bool timedOut() const { return timedOut_; }
  // Ghostscript was ended by its CPU-time limit.
  bool cpuExceeded() const { return cpuExceeded_; }
  pid_t pid() const { return pid_; }
  // Ghostscript's last lines on its standard error, joined by " / ".
  std::string lastMessages() const;

 private:
  void readMessages();
  void logLine(std::string line);

  pappl_job_t* job_;
  pid_t pid_ = -1;
  int rasterFd_ = -1;
  int messageFd_ = -1;
  std::string folder_;  // the private temporary folder
  std::string partial_;  // a message line not yet ended
  std::deque<std::string> lastLines_;
  long long pageDeadline_ = 0;  // CLOCK_MONOTONIC milliseconds
  bool timedOut_ = false;
  bool cpuExceeded_ = false;
  bool finished_ = false;
};

}  // namespace zeruapp
