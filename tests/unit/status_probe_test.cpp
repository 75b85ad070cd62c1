#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <cups/sidechannel.h>

#include "filter/log.h"
#include "filter/status_probe.h"
#include "status/device_id.h"

namespace {

using Lines = std::vector<std::string>;

const Lines kSimplexGoodUsb = {
    "INFO: Is Not Bonjour URI. ",
    "INFO: cupsSideChannelDoRequest START",
    "INFO: cupsSideChannelDoRequest done",
    "INFO: DecodStatusFromDeviceID done",
    "INFO: pfUpdateScreenTRC done",
};

const Lines kDuplexGoodUsb = {
    "cupsSideChannelDoRequest START",
    "cupsSideChannelDoRequest done",
    "DecodStatusFromDeviceID done",
    "pfUpdateScreenTRC done",
};

std::vector<uint8_t> statusBytes(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(kDeviceStatusSize);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::string encodeBase64(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i + 3 <= bytes.size(); i += 3) {
    uint32_t bits = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(bits >> shift) & 63];
  }
  return text;  // whole groups only: the status block is 108 bytes
}

std::string deviceIdWithStatus(const std::vector<uint8_t>& bytes) {
  return "MFG:ZEMRO;MDL:Test Colour;CMD:PJL;STS:" + encodeBase64(bytes) + ";";
}

Lines readLog() {
  Lines lines;
  std::ifstream log(kLogPath);
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

volatile sig_atomic_t pipeSignals = 0;
void countPipe(int) { pipeSignals = pipeSignals + 1; }

std::optional<std::string> getenvCopy(const char* name) {
  const char* value = getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void restoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
}

bool pipeBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE) == 1;
}

bool pipePending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

// ---- Pure rules ----

TEST(SideChannelAvailable, OlderSpoolersAndUnsetSoftwareOfferNone) {
  EXPECT_FALSE(sideChannelAvailable(nullptr));
  EXPECT_FALSE(sideChannelAvailable("CUPS/1.1.23"));
  EXPECT_FALSE(sideChannelAvailable("CUPS/1.2.12"));
  EXPECT_FALSE(sideChannelAvailable("CUPS/1.10"));  // eight bytes compared
  EXPECT_FALSE(sideChannelAvailable("CUPS/1.2"));
  EXPECT_TRUE(sideChannelAvailable("CUPS/1.3.11"));
  EXPECT_TRUE(sideChannelAvailable("CUPS/1.4.3"));
  EXPECT_TRUE(sideChannelAvailable("CUPS/2.4.2"));
  EXPECT_TRUE(sideChannelAvailable("cups/1.1"));
  EXPECT_TRUE(sideChannelAvailable(""));
}

TEST(ClassifyDeviceUri, DirectSchemesWinAnywhereThenDiscovery) {
  struct Case {
    const char* uri;
    DeviceUriClass expected;
  };
  const Case cases[] = {
      {nullptr, DeviceUriClass::Unset},
      {"", DeviceUriClass::NoScheme},
      {"socket://192.0.2.1:9100", DeviceUriClass::NoScheme},
      {"ipp://printer/ipp/print", DeviceUriClass::NoScheme},
      {"USB://ZEMRO/Test", DeviceUriClass::NoScheme},
      {"usb:/ZEMRO", DeviceUriClass::NoScheme},
      {"usb://ZEMRO/Test?serial=1", DeviceUriClass::Direct},
      {"hal:///org/freedesktop/Hal/devices/printer", DeviceUriClass::Direct},
      {"backend:usb://ZEMRO", DeviceUriClass::Direct},
      {"dnssd://Test._ipp._tcp.local/?uuid=1", DeviceUriClass::Discovery},
      {"mdns://Test._pdl-datastream._tcp.local", DeviceUriClass::Discovery},
      {"x-dnssd://Test", DeviceUriClass::Discovery},
      {"dnssd://Test/?via=usb://ZEMRO", DeviceUriClass::Direct},
      {"usb://ZEMRO/?via=dnssd://Test", DeviceUriClass::Direct},
  };
  for (const auto& c : cases)
    EXPECT_EQ(classifyDeviceUri(c.uri), c.expected) << (c.uri ? c.uri : "(unset)");
}

// ---- The probe in-process, with the test playing the backend on fd 4 ----

class StatusProbe : public ::testing::Test {
protected:
  void SetUp() override {
    savedSoftware_ = getenvCopy("SOFTWARE");
    savedUri_ = getenvCopy("DEVICE_URI");
    savedFd4_ = fcntl(CUPS_SC_FD, F_GETFD) == -1 ? -1 : fcntl(CUPS_SC_FD, F_DUPFD_CLOEXEC, 10);

    // Both ends go above the low descriptors first, so that neither of them
    // is fd 4 itself when it is put in place.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    int filterEnd = fcntl(pair[0], F_DUPFD_CLOEXEC, 10);
    backendFd_ = fcntl(pair[1], F_DUPFD_CLOEXEC, 10);
    close(pair[0]);
    close(pair[1]);
    ASSERT_GE(filterEnd, 10);
    ASSERT_GE(backendFd_, 10);
    ASSERT_EQ(dup2(filterEnd, CUPS_SC_FD), CUPS_SC_FD);
    close(filterEnd);

    struct sigaction counting {};
    counting.sa_handler = countPipe;
    sigemptyset(&counting.sa_mask);
    sigaction(SIGPIPE, &counting, &savedPipeAction_);
    pipeSignals = 0;

    setenv("SOFTWARE", "CUPS/2.4.2", 1);
    setenv("DEVICE_URI", "usb://ZEMRO/Test%20Colour?serial=0001", 1);
    logTruncate();
    probe_.clear();
  }

  void TearDown() override {
    joinBackend();
    if (backendFd_ >= 0) close(backendFd_);
    if (savedFd4_ >= 0) {
      dup2(savedFd4_, CUPS_SC_FD);
      close(savedFd4_);
    } else {
      close(CUPS_SC_FD);
    }
    sigaction(SIGPIPE, &savedPipeAction_, nullptr);
    restoreEnv("SOFTWARE", savedSoftware_);
    restoreEnv("DEVICE_URI", savedUri_);
  }

  // Answers the next request with `status` and `data`, from a thread, the way
  // a backend does: 1 byte command, 1 byte status, 2 bytes big-endian
  // length, data.
  void answer(cups_sc_status_t status, const std::string& data) {
    joinBackend();
    backend_ = std::thread([this, status, data] {
      pollfd ready{backendFd_, POLLIN, 0};
      if (poll(&ready, 1, 10000) != 1) return;  // guard only: the test fails anyway
      unsigned char request[4 + 65536];
      ssize_t got = read(backendFd_, request, sizeof request);
      if (got < 4) return;
      ++requests_;
      requestCommand_ = request[0];
      requestDataLength_ = request[2] << 8 | request[3];
      std::string reply;
      reply += static_cast<char>(request[0]);
      reply += static_cast<char>(status);
      reply += static_cast<char>(data.size() >> 8);
      reply += static_cast<char>(data.size() & 0xFF);
      reply += data;
      ssize_t sent = write(backendFd_, reply.data(), reply.size());
      (void)sent;
    });
  }

  void joinBackend() {
    if (backend_.joinable()) backend_.join();
  }

  // True when the filter's side wrote nothing to the backend.
  bool noRequestWaiting() {
    char byte;
    return recv(backendFd_, &byte, 1, MSG_DONTWAIT) == -1 && errno == EAGAIN;
  }

  void closeBackend() {
    close(backendFd_);
    backendFd_ = -1;
  }

  bool statusIs(const std::vector<uint8_t>& bytes) {
    const DeviceStatus& status = probe_.deviceStatus();
    return std::equal(bytes.begin(), bytes.end(), status.begin());
  }

  DeviceStatusProbe probe_{logLine};
  int backendFd_ = -1;
  std::thread backend_;
  int requests_ = 0;             // written by the backend thread, read after join
  int requestCommand_ = -1;
  int requestDataLength_ = -1;

private:
  int savedFd4_ = -1;
  struct sigaction savedPipeAction_ {};
  std::optional<std::string> savedSoftware_, savedUri_;
};

TEST_F(StatusProbe, UsbUriWithGoodStatusWritesTheFiveSimplexLines) {
  std::vector<uint8_t> bytes = statusBytes(11);
  answer(CUPS_SC_STATUS_OK, deviceIdWithStatus(bytes));
  probe_.RequestDeviceStatus(false);
  joinBackend();

  EXPECT_EQ(readLog(), kSimplexGoodUsb);
  EXPECT_EQ(requests_, 1);
  EXPECT_EQ(requestCommand_, CUPS_SC_CMD_GET_DEVICE_ID);
  EXPECT_EQ(requestDataLength_, 0);
  EXPECT_TRUE(statusIs(bytes));
}

TEST_F(StatusProbe, UsbUriWithGoodStatusWritesTheDuplexWording) {
  std::vector<uint8_t> bytes = statusBytes(12);
  answer(CUPS_SC_STATUS_OK, deviceIdWithStatus(bytes));
  probe_.RequestDeviceStatus(true);
  joinBackend();

  EXPECT_EQ(readLog(), kDuplexGoodUsb);
  EXPECT_EQ(requests_, 1);
  EXPECT_TRUE(statusIs(bytes));
}

TEST_F(StatusProbe, HalUriAndUsbAnywhereAreDirect) {
  for (const char* uri : {"hal:///org/freedesktop/Hal/devices/printer",
                          "dnssd://Test._ipp._tcp.local/?via=usb://ZEMRO",
                          "usb://ZEMRO/Test?via=dnssd://Test"}) {
    setenv("DEVICE_URI", uri, 1);
    logTruncate();
    answer(CUPS_SC_STATUS_OK, deviceIdWithStatus(statusBytes(13)));
    probe_.RequestDeviceStatus(false);
    joinBackend();
    EXPECT_EQ(readLog(), kSimplexGoodUsb) << uri;
  }
  EXPECT_EQ(requests_, 3);
}

TEST_F(StatusProbe, UsbUriWithoutStatusKeyWritesNoDecodedLines) {
  answer(CUPS_SC_STATUS_OK, "MFG:ZEMRO;MDL:Test Colour;CMD:PJL;");
  probe_.RequestDeviceStatus(false);
  joinBackend();
  EXPECT_EQ(readLog(), Lines(kSimplexGoodUsb.begin(), kSimplexGoodUsb.begin() + 3));
}

TEST_F(StatusProbe, DiscoveryUriWritesOnlyNotBonjourAndMakesTheRequest) {
  for (const char* uri : {"dnssd://Test%20Colour._ipp._tcp.local/?uuid=1",
                          "mdns://Test._pdl-datastream._tcp.local"}) {
    setenv("DEVICE_URI", uri, 1);
    logTruncate();
    probe_.clear();
    std::vector<uint8_t> bytes = statusBytes(14);
    answer(CUPS_SC_STATUS_OK, deviceIdWithStatus(bytes));
    probe_.RequestDeviceStatus(false);
    joinBackend();
    EXPECT_EQ(readLog(), Lines{"INFO: Is Not Bonjour URI. "}) << uri;
    EXPECT_TRUE(statusIs(bytes)) << "the status is decoded, only not reported";
  }
  EXPECT_EQ(requests_, 2);
}

TEST_F(StatusProbe, DiscoveryUriInTheDuplexLoopWritesNothingButAsks) {
  setenv("DEVICE_URI", "dnssd://Test._ipp._tcp.local/", 1);
  answer(CUPS_SC_STATUS_OK, deviceIdWithStatus(statusBytes(15)));
  probe_.RequestDeviceStatus(true);
  joinBackend();
  EXPECT_EQ(readLog(), Lines{});
  EXPECT_EQ(requests_, 1);
}

TEST_F(StatusProbe, SocketUriWritesOnlyTheNoSchemeLineAndMakesNoRequest) {
  setenv("DEVICE_URI", "socket://192.0.2.1:9100", 1);
  probe_.RequestDeviceStatus(false);
  EXPECT_EQ(readLog(), Lines{"INFO: Is Bonjour URI. "});
  EXPECT_TRUE(noRequestWaiting());

  logTruncate();
  probe_.RequestDeviceStatus(true);
  EXPECT_EQ(readLog(), Lines{"if(isBonjour==0) "});
  EXPECT_TRUE(noRequestWaiting());
}

TEST_F(StatusProbe, EmptyUriWritesTheNoSchemeLineEvenWithoutSideChannel) {
  setenv("DEVICE_URI", "", 1);
  unsetenv("SOFTWARE");
  probe_.RequestDeviceStatus(false);
  EXPECT_EQ(readLog(), Lines{"INFO: Is Bonjour URI. "});
  EXPECT_TRUE(noRequestWaiting());
}

TEST_F(StatusProbe, UnsetUriDoesNothing) {
  unsetenv("DEVICE_URI");
  probe_.RequestDeviceStatus(false);
  probe_.RequestDeviceStatus(true);
  EXPECT_EQ(readLog(), Lines{});
  EXPECT_TRUE(noRequestWaiting());
}

TEST_F(StatusProbe, OlderSpoolerOrUnsetSoftwareMakesNoRequest) {
  for (const char* software : {"CUPS/1.2.12", "CUPS/1.1.23", static_cast<const char*>(nullptr)}) {
    if (software)
      setenv("SOFTWARE", software, 1);
    else
      unsetenv("SOFTWARE");
    probe_.RequestDeviceStatus(false);
    probe_.RequestDeviceStatus(true);
    EXPECT_EQ(readLog(), Lines{}) << (software ? software : "(unset)");
    EXPECT_TRUE(noRequestWaiting()) << (software ? software : "(unset)");
  }

  setenv("SOFTWARE", "CUPS/1.4.3", 1);
  answer(CUPS_SC_STATUS_OK, deviceIdWithStatus(statusBytes(16)));
  probe_.RequestDeviceStatus(false);
  joinBackend();
  EXPECT_EQ(requests_, 1);
  EXPECT_EQ(readLog(), kSimplexGoodUsb);
}

TEST_F(StatusProbe, OkAnswerOfZeroBytesWritesTheFailedLine) {
  answer(CUPS_SC_STATUS_OK, "");
  probe_.RequestDeviceStatus(false);
  joinBackend();
  EXPECT_EQ(readLog(), (Lines{"INFO: Is Not Bonjour URI. ", "INFO: cupsSideChannelDoRequest START",
                              "INFO: cupsSideChannelDoRequest done",
                              "INFO: cupsSideChannelDoRequest failed"}));

  logTruncate();
  answer(CUPS_SC_STATUS_OK, "");
  probe_.RequestDeviceStatus(true);
  joinBackend();
  EXPECT_EQ(readLog(), (Lines{"cupsSideChannelDoRequest START", "cupsSideChannelDoRequest done",
                              "cupsSideChannelDoRequest failed"}));

  logTruncate();
  setenv("DEVICE_URI", "dnssd://Test._ipp._tcp.local/", 1);
  answer(CUPS_SC_STATUS_OK, "");
  probe_.RequestDeviceStatus(false);
  joinBackend();
  EXPECT_EQ(readLog(),
            (Lines{"INFO: Is Not Bonjour URI. ", "INFO: cupsSideChannelDoRequest failed"}));
}

TEST_F(StatusProbe, RefusedRequestIsNotDecodedAndKeepsTheLastStatus) {
  std::vector<uint8_t> first = statusBytes(17);
  answer(CUPS_SC_STATUS_OK, deviceIdWithStatus(first));
  probe_.RequestDeviceStatus(false);
  joinBackend();
  ASSERT_TRUE(statusIs(first));

  // A backend that does not implement the command, with data all the same.
  logTruncate();
  answer(CUPS_SC_STATUS_NOT_IMPLEMENTED, deviceIdWithStatus(statusBytes(18)));
  probe_.RequestDeviceStatus(false);
  joinBackend();
  EXPECT_EQ(readLog(), (Lines{"INFO: Is Not Bonjour URI. ", "INFO: cupsSideChannelDoRequest START",
                              "INFO: cupsSideChannelDoRequest done",
                              "INFO: cupsSideChannelDoRequest failed"}));
  EXPECT_TRUE(statusIs(first));

  probe_.clear();
  EXPECT_TRUE(statusIs(std::vector<uint8_t>(kDeviceStatusSize, 0)));
}

TEST_F(StatusProbe, ShorterAnswerIsNotCompletedByTheOneBefore) {
  std::string full = "STS:" + encodeBase64(statusBytes(19)) + ";";
  answer(CUPS_SC_STATUS_OK, full);
  probe_.RequestDeviceStatus(false);
  joinBackend();
  ASSERT_EQ(readLog(), kSimplexGoodUsb);

  // Only the first 100 characters of the value: decoded alone, 75 bytes.
  logTruncate();
  answer(CUPS_SC_STATUS_OK, full.substr(0, 4 + 100));
  probe_.RequestDeviceStatus(false);
  joinBackend();
  EXPECT_EQ(readLog(), Lines(kSimplexGoodUsb.begin(), kSimplexGoodUsb.begin() + 3));
}

TEST_F(StatusProbe, DeviceIdOfFullCapacityDecodes) {
  std::vector<uint8_t> bytes = statusBytes(20);
  std::string tail = ";STS:" + encodeBase64(bytes) + ";";
  std::string id = "MFG:ZEMRO;DES:" + std::string(2048 - 14 - tail.size(), 'x') + tail;
  ASSERT_EQ(id.size(), 2048u);
  answer(CUPS_SC_STATUS_OK, id);
  probe_.RequestDeviceStatus(false);
  joinBackend();
  EXPECT_EQ(readLog(), kSimplexGoodUsb);
  EXPECT_TRUE(statusIs(bytes));
}

TEST_F(StatusProbe, ClosedBackendRaisesNoSigpipeAndTheRequestFails) {
  closeBackend();
  probe_.RequestDeviceStatus(false);

  EXPECT_EQ(pipeSignals, 0);
  EXPECT_EQ(readLog(), (Lines{"INFO: Is Not Bonjour URI. ", "INFO: cupsSideChannelDoRequest START",
                              "INFO: cupsSideChannelDoRequest done",
                              "INFO: cupsSideChannelDoRequest failed"}));
  EXPECT_FALSE(pipeBlocked()) << "the signal mask is restored";
  EXPECT_FALSE(pipePending());

  // A lost reader of standard output still reaches the handler.
  raise(SIGPIPE);
  EXPECT_EQ(pipeSignals, 1);
}

TEST_F(StatusProbe, CallersPendingSigpipeIsKept) {
  sigset_t pipeSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  sigset_t savedMask;
  pthread_sigmask(SIG_BLOCK, &pipeSet, &savedMask);
  raise(SIGPIPE);
  ASSERT_TRUE(pipePending());

  closeBackend();
  probe_.RequestDeviceStatus(true);
  EXPECT_TRUE(pipeBlocked()) << "the caller's mask is restored";
  EXPECT_TRUE(pipePending()) << "a signal the probe did not raise is not taken";

  timespec noWait{};
  sigtimedwait(&pipeSet, nullptr, &noWait);
  pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
  EXPECT_EQ(pipeSignals, 0);
  EXPECT_EQ(readLog(), (Lines{"cupsSideChannelDoRequest START", "cupsSideChannelDoRequest done",
                              "cupsSideChannelDoRequest failed"}));
}
