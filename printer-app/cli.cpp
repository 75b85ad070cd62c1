#include "printer-app/cli.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pappl/pappl.h>

namespace zeruapp {

// PAPPL 1.3.1's `delete` and `default` read the printer's "printer-id"
// attribute to name it to the system service, but papplPrinterCreate stores
// that attribute before the printer has its id: a printer added while the
// server runs says printer-id 0 until the next start, and both commands
// failed ("Unable to get information for printer: successful-ok"). The
// system's "system-configured-printers" carries each printer's real id.

namespace {

constexpr const char* kBaseName = "zeru-printer-app";

}  // namespace

std::string serverSocketPath(uid_t uid) {
  if (uid != 0)
    return std::string(papplGetTempDir()) + "/" + kBaseName + std::to_string(uid) + ".sock";
  if (const char* snap = getenv("SNAP_COMMON"); snap != nullptr)
    return std::string(snap) + "/" + kBaseName + ".sock";
  return std::string("/run/") + kBaseName + ".sock";
}

namespace {

ipp_t* systemRequest(ipp_op_t op) {
  ipp_t* request = ippNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr,
               "ipp://localhost/ipp/system");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

// The id of the printer called `name`, 0 when the system has none.
int printerIdOf(http_t* http, const char* name) {
  ipp_t* request = systemRequest(IPP_OP_GET_SYSTEM_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "system-configured-printers");
  ipp_t* response = cupsDoRequest(http, request, "/ipp/system");
  int id = 0;
  ipp_attribute_t* printers =
      ippFindAttribute(response, "system-configured-printers", IPP_TAG_BEGIN_COLLECTION);
  for (int i = 0; id == 0 && i < ippGetCount(printers); i++) {
    ipp_t* printer = ippGetCollection(printers, i);
    const char* printerName =
        ippGetString(ippFindAttribute(printer, "printer-name", IPP_TAG_ZERO), 0, nullptr);
    if (printerName != nullptr && strcmp(printerName, name) == 0)
      id = ippGetInteger(ippFindAttribute(printer, "printer-id", IPP_TAG_INTEGER), 0);
  }
  ippDelete(response);
  return id;
}

// `-d NAME` or `-dNAME` and nothing else; nullptr otherwise.
const char* printerNameArgument(int argc, char* argv[]) {
  if (argc == 4 && strcmp(argv[2], "-d") == 0 && argv[3][0] != '\0') return argv[3];
  if (argc == 3 && strncmp(argv[2], "-d", 2) == 0 && argv[2][2] != '\0') return argv[2] + 2;
  return nullptr;
}

}  // namespace

bool runPrinterIdCommand(int argc, char* argv[], int& status) {
  if (argc < 3) return false;
  const bool remove = strcmp(argv[1], "delete") == 0;
  if (!remove && strcmp(argv[1], "default") != 0) return false;
  const char* name = printerNameArgument(argc, argv);
  if (name == nullptr) return false;

  http_t* http = nullptr;
  // The user's own server, then root's.
  for (uid_t uid : {getuid(), uid_t{0}}) {
    if (http == nullptr)
      http = httpConnect2(serverSocketPath(uid).c_str(), 0, nullptr, AF_UNSPEC,
                          HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
  }
  // No server: papplMainloop starts one of its own, as for its other commands.
  if (http == nullptr) return false;

  const int id = printerIdOf(http, name);
  if (id == 0) {
    fprintf(stderr, "%s: Unable to get information for '%s': %s\n", kBaseName, name,
            cupsLastError() == IPP_STATUS_OK ? "No such printer." : cupsLastErrorString());
    httpClose(http);
    status = 1;
    return true;
  }

  ipp_t* request;
  if (remove) {
    request = systemRequest(IPP_OP_DELETE_PRINTER);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "printer-id", id);
  } else {
    request = systemRequest(IPP_OP_SET_SYSTEM_ATTRIBUTES);
    ippAddInteger(request, IPP_TAG_SYSTEM, IPP_TAG_INTEGER, "system-default-printer-id", id);
  }
  ippDelete(cupsDoRequest(http, request, "/ipp/system"));
  httpClose(http);
  if (cupsLastError() != IPP_STATUS_OK) {
    fprintf(stderr, "%s: Unable to %s: %s\n", kBaseName,
            remove ? "delete printer" : "set default printer", cupsLastErrorString());
    status = 1;
    return true;
  }
  status = 0;
  return true;
}

}  // namespace zeruapp
