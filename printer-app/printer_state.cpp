#include "printer-app/printer_state.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <string>

#include "printer-app/log_number.h"
#include "printer-app/mapping/device_answer.h"

namespace zeruapp {

namespace {

constexpr const char* kDevicePage = "device";
constexpr const char* kDevicePageLabel = "Device";
// PAPPL's limit of a device ID, as the IEEE 1284 descriptor has it.
constexpr size_t kDeviceIdSize = 1024;

std::atomic<bool> loadingState{false};

// What the app last learnt of each printer, by printer id, for its device
// page, and to log a change of state above the debug level. Written by
// client threads (status requests) and job threads; guarded by its mutex.
struct DeviceRecord {
  std::string deviceId;
  std::string message;
  bool asked = false;
  bool asking = false;  // a status request is asking the device
};
std::mutex recordsMutex;
std::map<int, DeviceRecord> records;

// The state an answer says, in the printer's reasons, message and log.
void applyAnswer(pappl_printer_t* printer, DeviceAnswer answer, const char* deviceId) {
  const std::string line = answerLogLine(answer, deviceId);
  PrinterState state = printerStateOf(answer);
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(recordsMutex);
    DeviceRecord& record = records[papplPrinterGetID(printer)];
    record.asked = true;
    record.deviceId = deviceId ? deviceId : "";
    if (state.known && record.message != state.message) {
      record.message = state.message;
      changed = true;
    }
  }
  // A printer that stops answering is a warning; every other change is
  // news; the same answer again is for debugging.
  const pappl_loglevel_t level = !changed        ? PAPPL_LOGLEVEL_DEBUG
                                 : state.offline ? PAPPL_LOGLEVEL_WARN
                                                 : PAPPL_LOGLEVEL_INFO;
  papplLogPrinter(printer, level, "%s", line.c_str());
  if (!state.known) return;
  if (state.offline)
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  else
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
}

// The four toners every model has, with the printer MIB's "unknown" level:
// what a printer shows when its device reports no levels (USB and file
// printers, a network printer without SNMP), so that clients say "unknown"
// rather than show nothing.
constexpr int kUnknownLevel = -2;
void setUnknownToners(pappl_printer_t* printer) {
  struct Toner {
    pappl_supply_color_t color;
    const char* description;
  };
  static constexpr Toner kToners[] = {{PAPPL_SUPPLY_COLOR_CYAN, "Cyan Toner"},
                                      {PAPPL_SUPPLY_COLOR_MAGENTA, "Magenta Toner"},
                                      {PAPPL_SUPPLY_COLOR_YELLOW, "Yellow Toner"},
                                      {PAPPL_SUPPLY_COLOR_BLACK, "Black Toner"}};
  pappl_supply_t supplies[std::size(kToners)] = {};
  for (size_t i = 0; i < std::size(kToners); i++) {
    supplies[i].color = kToners[i].color;
    strncpy(supplies[i].description, kToners[i].description, sizeof supplies[i].description - 1);
    supplies[i].is_consumed = true;
    supplies[i].level = kUnknownLevel;
    supplies[i].type = PAPPL_SUPPLY_TYPE_TONER;
  }
  papplPrinterSetSupplies(printer, static_cast<int>(std::size(kToners)), supplies);
}

// The toner levels the device reports; the toners with unknown levels when
// it reports none.
void readSupplies(pappl_printer_t* printer, pappl_device_t* device) {
  pappl_supply_t supplies[PAPPL_MAX_SUPPLY] = {};
  int count = papplDeviceGetSupplies(device, PAPPL_MAX_SUPPLY, supplies);
  if (count < 0) count = 0;
  if (count > 0)
    papplPrinterSetSupplies(printer, count, supplies);
  else
    setUnknownToners(printer);
  papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "The device reports %s supplies.",
                  logNumber(count).c_str());
}

// The supplies are asked for first: PAPPL's network device asks for the
// device ID under several vendors' objects at once and takes the first
// answer, and the printer's answers to the others would be read as the
// answers to the supply queries that followed. A job asks for the device ID
// alone: a network printer that does not answer SNMP keeps each query
// waiting for PAPPL's time-out, and the job waits with it.
void askDevice(pappl_printer_t* printer, pappl_device_t* device, bool withSupplies) {
  const IdChannel channel = idChannelOf(papplPrinterGetDeviceURI(printer));
  char deviceId[kDeviceIdSize] = "";
  if (device != nullptr && channel != IdChannel::None) {
    if (withSupplies) readSupplies(printer, device);
    papplDeviceGetID(device, deviceId, sizeof deviceId);
  }
  applyAnswer(printer, deviceAnswerOf(channel, device != nullptr, deviceId), deviceId);
}

// The printer's device page: the raw device ID and what it says.
bool devicePage(pappl_client_t* client, void* data) {
  const int id = static_cast<int>(reinterpret_cast<intptr_t>(data));
  pappl_printer_t* printer =
      papplSystemFindPrinter(papplClientGetSystem(client), nullptr, id, nullptr);
  if (printer == nullptr) return false;
  DeviceRecord record;
  {
    std::lock_guard<std::mutex> lock(recordsMutex);
    record = records[id];
  }
  papplClientHTMLPrinterHeader(client, printer, kDevicePageLabel, 0, nullptr, nullptr);
  papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\">\n<h2 class=\"title\">"
                              "Device ID</h2>\n<p><code id=\"device-id\">");
  if (!record.deviceId.empty())
    papplClientHTMLEscape(client, record.deviceId.c_str(), 0);
  else
    papplClientHTMLPuts(client, record.asked ? "(none)" : "(not read yet)");
  papplClientHTMLPuts(client, "</code></p>\n<p id=\"device-state\">");
  papplClientHTMLEscape(client, record.message.c_str(), 0);
  papplClientHTMLPuts(client, "</p>\n</div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

}  // namespace

bool printerStatusCallback(pappl_printer_t* printer) {
  if (idChannelOf(papplPrinterGetDeviceURI(printer)) == IdChannel::None) {
    askDevice(printer, nullptr, false);
    return true;
  }
  // One status request at a time asks the device: a second one would find
  // the device taken by the first and take that for no answer.
  const int id = papplPrinterGetID(printer);
  {
    std::lock_guard<std::mutex> lock(recordsMutex);
    DeviceRecord& record = records[id];
    if (record.asking) return true;
    record.asking = true;
  }
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  // A job that holds the device says what the printer does.
  if (device != nullptr || papplPrinterGetState(printer) != IPP_PSTATE_PROCESSING)
    askDevice(printer, device, true);
  if (device != nullptr) papplPrinterCloseDevice(printer);
  std::lock_guard<std::mutex> lock(recordsMutex);
  records[id].asking = false;
  return true;
}

void readJobDeviceStatus(pappl_job_t* job, pappl_device_t* device) {
  askDevice(papplJobGetPrinter(job), device, false);
}

void printerAdded(pappl_printer_t* printer) {
  char path[256];
  if (papplPrinterGetPath(printer, kDevicePage, path, sizeof path) != nullptr) {
    papplSystemAddResourceCallback(
        papplPrinterGetSystem(printer), path, "text/html", devicePage,
        reinterpret_cast<void*>(static_cast<intptr_t>(papplPrinterGetID(printer))));
    papplPrinterAddLink(printer, kDevicePageLabel, path,
                        PAPPL_LOPTIONS_STATUS);
  }
  // Until the device says otherwise (a file printer never does).
  setUnknownToners(printer);
  if (!loadingState) printerStatusCallback(printer);
}

void setLoadingState(bool loading) { loadingState = loading; }

void reportRefusedJob(pappl_printer_t* printer) {
  papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", refusedJobMessage());
  std::lock_guard<std::mutex> lock(recordsMutex);
  records[papplPrinterGetID(printer)].message = refusedJobMessage();
}

}  // namespace zeruapp
