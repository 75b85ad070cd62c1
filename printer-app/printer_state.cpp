#include "printer-app/printer_state.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "printer-app/choices_map.h"
#include "printer-app/printer_status.h"

namespace zeruapp {

namespace {

constexpr const char* kStateMessage = "printer-state-message";
constexpr const char* kDevicePage = "device";
constexpr const char* kDevicePageLabel = "Device";
// PAPPL's limit of a device ID, as the IEEE 1284 descriptor has it.
constexpr size_t kDeviceIdSize = 1024;

std::atomic<bool> loadingState{false};

// What the app last learnt of each printer, by printer id, for its web page
// and to change the state message only when it changes. Written by client
// threads (status requests) and job threads; guarded by its mutex.
struct DeviceRecord {
  std::string deviceId;
  std::string message;
  bool asked = false;
};
std::mutex recordsMutex;
std::map<int, DeviceRecord> records;

// The copy of the driver's attributes keeps the vendor options' attributes
// (with the defaults the owner chose) and nothing that PAPPL makes anew.
int keepOwnAttribute(void*, ipp_t*, ipp_attribute_t* attr) {
  const char* name = ippGetName(attr);
  if (name == nullptr || strcmp(name, kStateMessage) == 0) return 0;
  for (const VendorOption& option : vendorOptions()) {
    const size_t length = option.name.size();
    if (strncmp(name, option.name.c_str(), length) == 0 &&
        (strcmp(name + length, "-supported") == 0 || strcmp(name + length, "-default") == 0))
      return 1;
  }
  return 0;
}

// PAPPL 1.3.1 keeps no printer-state-message of its own and has no setter
// for it; it answers the driver's capability attributes as they are, so the
// message is kept among them. papplPrinterSetDriverData makes PAPPL's own
// attributes anew and adds ours under the printer's lock.
void setStateMessage(pappl_printer_t* printer, const std::string& message) {
  pappl_pr_driver_data_t data;
  if (papplPrinterGetDriverData(printer, &data) == nullptr) return;
  ipp_t* own = ippNew();
  if (ipp_t* current = papplPrinterGetDriverAttributes(printer))
    ippCopyAttributes(own, current, 0, keepOwnAttribute, nullptr);
  if (!message.empty())
    ippAddString(own, IPP_TAG_PRINTER, IPP_TAG_TEXT, kStateMessage, nullptr, message.c_str());
  if (!papplPrinterSetDriverData(printer, &data, own))
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Unable to set the printer's state message.");
  ippDelete(own);
}

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
    // One writer of the message at a time: the driver data is copied and
    // set back as a whole.
    if (changed) setStateMessage(printer, state.message);
  }
  papplLogPrinter(printer, changed ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_DEBUG, "%s",
                  line.c_str());
  if (!state.known) return;
  if (state.offline)
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  else
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
}

// The toner levels the device reports, and none when it reports none.
void readSupplies(pappl_printer_t* printer, pappl_device_t* device) {
  pappl_supply_t supplies[PAPPL_MAX_SUPPLY] = {};
  int count = papplDeviceGetSupplies(device, PAPPL_MAX_SUPPLY, supplies);
  if (count < 0) count = 0;
  papplPrinterSetSupplies(printer, count, supplies);
  papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "The device reports %d supplies.", count);
}

void askDevice(pappl_printer_t* printer, pappl_device_t* device) {
  const IdChannel channel = idChannelOf(papplPrinterGetDeviceURI(printer));
  char deviceId[kDeviceIdSize] = "";
  if (device != nullptr && channel != IdChannel::None)
    papplDeviceGetID(device, deviceId, sizeof deviceId);
  applyAnswer(printer, deviceAnswerOf(channel, device != nullptr, deviceId), deviceId);
  if (device != nullptr && channel != IdChannel::None) readSupplies(printer, device);
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
    askDevice(printer, nullptr);
    return true;
  }
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  // A job that holds the device says what the printer does.
  if (device == nullptr && papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING) return true;
  askDevice(printer, device);
  if (device != nullptr) papplPrinterCloseDevice(printer);
  return true;
}

void readJobDeviceStatus(pappl_job_t* job, pappl_device_t* device) {
  askDevice(papplJobGetPrinter(job), device);
}

void printerAdded(pappl_printer_t* printer) {
  char path[256];
  if (papplPrinterGetPath(printer, kDevicePage, path, sizeof path) != nullptr) {
    papplSystemAddResourceCallback(
        papplPrinterGetSystem(printer), path, "text/html", devicePage,
        reinterpret_cast<void*>(static_cast<intptr_t>(papplPrinterGetID(printer))));
    papplPrinterAddLink(printer, kDevicePageLabel, path,
                        PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
  }
  if (!loadingState) printerStatusCallback(printer);
}

void setLoadingState(bool loading) { loadingState = loading; }

void reportRefusedJob(pappl_printer_t* printer) {
  papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", refusedJobMessage());
  std::lock_guard<std::mutex> lock(recordsMutex);
  DeviceRecord& record = records[papplPrinterGetID(printer)];
  if (record.message == refusedJobMessage()) return;
  record.message = refusedJobMessage();
  setStateMessage(printer, record.message);
}

}  // namespace zeruapp
