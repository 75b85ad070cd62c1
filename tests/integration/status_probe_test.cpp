// The per-page status probe of the real filter, with a backend played on the
// side-channel descriptor.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <cups/sidechannel.h>

#include "job_fixture.h"

using namespace zerutest;

namespace {

// 108 bytes of status, base64-encoded: 144 characters.
std::string statusBlockBase64() {
  static const char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (int i = 0; i < 144; ++i) text += alphabet[(i * 7) % 64];
  return text;
}

// Answers every device-ID request with `deviceId` (status OK), counting them.
class Backend {
public:
  enum class Mode { Answer, AnswerEmpty, Closed };

  explicit Backend(std::string deviceId, Mode mode = Mode::Answer)
      : deviceId_(std::move(deviceId)) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) throw std::runtime_error("socketpair");
    filterEnd_ = fcntl(pair[0], F_DUPFD_CLOEXEC, 10);
    ownEnd_ = fcntl(pair[1], F_DUPFD_CLOEXEC, 10);
    close(pair[0]);
    close(pair[1]);
    if (mode == Mode::Closed) {
      close(ownEnd_);
      ownEnd_ = -1;
      return;
    }
    thread_ = std::thread([this, mode] { serve(mode); });
  }

  ~Backend() {
    if (filterEnd_ >= 0) close(filterEnd_);
    if (ownEnd_ >= 0) shutdown(ownEnd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (ownEnd_ >= 0) close(ownEnd_);
  }

  int filterEnd() const { return filterEnd_; }
  int requests() const { return requests_.load(); }
  // The filter's copy is made at fork; ours is closed after the run.
  void releaseFilterEnd() {
    close(filterEnd_);
    filterEnd_ = -1;
  }

private:
  void serve(Mode mode) {
    unsigned char request[4];
    while (read(ownEnd_, request, 4) == 4) {
      ++requests_;
      std::string data = mode == Mode::AnswerEmpty ? std::string() : deviceId_;
      std::string answer;
      answer += static_cast<char>(request[0]);
      answer += static_cast<char>(CUPS_SC_STATUS_OK);
      answer += static_cast<char>(data.size() >> 8);
      answer += static_cast<char>(data.size() & 0xFF);
      answer += data;
      if (write(ownEnd_, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size()))
        break;
    }
  }

  std::string deviceId_;
  int filterEnd_ = -1;
  int ownEnd_ = -1;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

struct ProbeRun {
  std::string uri;
  std::optional<std::string> software = std::string("CUPS/2.4.2");
  bool colour = true;
  bool duplex = false;
  Backend::Mode mode = Backend::Mode::Answer;
  int pages = 1;
};

struct ProbeResult {
  FilterResult filter;
  int requests = 0;
};

ProbeResult probe(const ProbeRun& request) {
  Backend backend("MFG:ZEMRO;MDL:TX 7M;CMD:PJL;STS:" + statusBlockBase64() + ";", request.mode);
  JobRun job;
  if (request.duplex) job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
  for (int i = 1; i <= request.pages; ++i) job.pages.push_back(markedPage(i, request.colour));
  job.run.deviceUri = request.uri;
  job.run.software = request.software;
  job.run.sideChannelFd = backend.filterEnd();
  ProbeResult result;
  result.filter = job.go();
  backend.releaseFilterEnd();
  result.requests = backend.requests();
  return result;
}

const char* const kSimplexGoodLines =
    "INFO: Is Not Bonjour URI. \n"
    "INFO: cupsSideChannelDoRequest START\n"
    "INFO: cupsSideChannelDoRequest done\n"
    "INFO: DecodStatusFromDeviceID done\n"
    "INFO: pfUpdateScreenTRC done\n";

}  // namespace

TEST(StatusProbeJob, UsbPrinterWithAGoodStatusBlock) {
  ZERU_REQUIRE_FILTER_RUNS();
  ProbeResult simplex = probe({.uri = "usb://ZEMRO/TX%207M?serial=1", .pages = 2});
  ASSERT_EQ(simplex.filter.exitStatus, 0) << simplex.filter.describe();
  EXPECT_EQ(simplex.requests, 2);
  EXPECT_EQ(occurrences(simplex.filter.log, kSimplexGoodLines), 2u) << simplex.filter.log;
  EXPECT_EQ(simplex.filter.err.find("cupsSideChannel"), std::string::npos);

  ProbeResult duplex = probe({.uri = "usb://ZEMRO/TX%207M", .duplex = true});
  ASSERT_EQ(duplex.filter.exitStatus, 0) << duplex.filter.describe();
  EXPECT_EQ(duplex.requests, 1);
  EXPECT_NE(duplex.filter.log.find("cupsSideChannelDoRequest START\n"
                                   "cupsSideChannelDoRequest done\n"
                                   "DecodStatusFromDeviceID done\n"
                                   "pfUpdateScreenTRC done\n"),
            std::string::npos)
      << duplex.filter.log;
}

TEST(StatusProbeJob, UriClassesAndSpoolerVersions) {
  ZERU_REQUIRE_FILTER_RUNS();
  ProbeResult discovery = probe({.uri = "dnssd://ZEMRO%20TX%207M._pdl-datastream._tcp.local/"});
  EXPECT_EQ(discovery.requests, 1);
  EXPECT_NE(discovery.filter.log.find("INFO: Is Not Bonjour URI. \n"), std::string::npos);
  EXPECT_EQ(discovery.filter.log.find("cupsSideChannelDoRequest"), std::string::npos);
  EXPECT_EQ(discovery.filter.log.find("DecodStatusFromDeviceID"), std::string::npos);

  ProbeResult socket = probe({.uri = "socket://192.0.2.1:9100"});
  EXPECT_EQ(socket.requests, 0);
  EXPECT_NE(socket.filter.log.find("INFO: Is Bonjour URI. \n"), std::string::npos);
  EXPECT_EQ(socket.filter.log.find("Is Not Bonjour"), std::string::npos);

  ProbeResult oldSpooler = probe({.uri = "usb://ZEMRO/TX%207M", .software = "CUPS/1.2.12"});
  EXPECT_EQ(oldSpooler.requests, 0);
  EXPECT_EQ(oldSpooler.filter.log.find("Bonjour"), std::string::npos);

  ProbeResult unknownSpooler = probe({.uri = "usb://ZEMRO/TX%207M", .software = std::nullopt});
  EXPECT_EQ(unknownSpooler.requests, 0);

  ProbeResult gray = probe({.uri = "usb://ZEMRO/TX%207M", .colour = false});
  EXPECT_EQ(gray.requests, 0);
  EXPECT_EQ(gray.filter.log.find("Bonjour"), std::string::npos);
  EXPECT_EQ(gray.filter.exitStatus, 0);
}

TEST(StatusProbeJob, FailedRequestsNeverFailTheJob) {
  ZERU_REQUIRE_FILTER_RUNS();
  ProbeResult empty = probe({.uri = "usb://ZEMRO/TX%207M", .mode = Backend::Mode::AnswerEmpty});
  EXPECT_EQ(empty.filter.exitStatus, 0);
  EXPECT_NE(empty.filter.log.find("INFO: cupsSideChannelDoRequest failed\n"), std::string::npos);

  // The backend has closed its end before the request: no SIGPIPE abort.
  ProbeResult closed = probe({.uri = "usb://ZEMRO/TX%207M", .mode = Backend::Mode::Closed,
                              .pages = 2});
  ASSERT_EQ(closed.filter.exitStatus, 0) << closed.filter.describe();
  EXPECT_EQ(closed.filter.err.find("SIGPIPE"), std::string::npos);
  EXPECT_NE(closed.filter.err.find("INFO: Ready to print.\n"), std::string::npos);
  EXPECT_EQ(readStream(closed.filter.out).pages.size(), 2u);

  // No backend at all (fd 4 is /dev/null): the page prints.
  JobRun noBackend;
  noBackend.pages = {markedPage(1, true)};
  noBackend.run.deviceUri = "usb://ZEMRO/TX%207M";
  noBackend.run.software = "CUPS/2.4.2";
  FilterResult result = noBackend.go();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.log.find("INFO: cupsSideChannelDoRequest failed\n"), std::string::npos);
  EXPECT_EQ(readStream(result.out).pages.size(), 1u);
}

// Without a side-channel socket on fd 4 no request is written anywhere: not
// into a page's spool file when fd 4 was closed at the start (the pages print
// as drawn), not into a plain file on fd 4. Every probe fails as it does
// without a backend.
TEST(StatusProbeJob, NoRequestWithoutASideChannelSocket) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun closed;
  for (int id = 1; id <= 3; ++id) closed.pages.push_back(markedPage(id, true));
  closed.run.deviceUri = "usb://ZEMRO/TX%207M";
  closed.run.software = "CUPS/2.4.2";
  closed.run.closedDescriptors = {4};
  FilterResult result = closed.go();
  expectOrderlyEnd(result);
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  expectCompleteStream(stream);
  EXPECT_EQ(markedPageIds(stream), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(occurrences(result.log, "INFO: cupsSideChannelDoRequest failed\n"), 3u)
      << result.log;

  JobRun plainFile;
  plainFile.pages = {markedPage(1, true), markedPage(2, true)};
  plainFile.run.deviceUri = "usb://ZEMRO/TX%207M";
  plainFile.run.software = "CUPS/2.4.2";
  std::string path = plainFile.dir.file("not-a-socket");
  writeFile(path, "");
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  plainFile.run.sideChannelFd = fd;
  result = plainFile.go();
  close(fd);
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_EQ(readFile(path), "");
  EXPECT_EQ(occurrences(result.log, "INFO: cupsSideChannelDoRequest failed\n"), 2u)
      << result.log;
  EXPECT_EQ(readStream(result.out).pages.size(), 2u);
}
