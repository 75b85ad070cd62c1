#include "printer-app/shared_collections.h"

#include <cups/cups.h>

#include <mutex>
#include <vector>

namespace zeruapp {

namespace {

// Uses held of each collection: the drift a count may suffer before the
// collection is freed under the printer. 16 bytes a use.
constexpr int kHeldUses = 1024;

// The held uses, one IPP message a printer; written when a printer is made
// (the create callback, on the thread that makes it). Never freed, not even
// at exit: the list is reached from a pointer that outlives every
// destructor, so that a leak checker sees the messages as still held.
std::mutex heldMutex;
std::vector<ipp_t*>& held() {
  static auto* list = new std::vector<ipp_t*>;
  return *list;
}

}  // namespace

void holdSharedCollections(pappl_printer_t* printer) {
#if CUPS_VERSION_MAJOR < 3
  // The copy's collections are the printer's own, each counted once more
  // while the copy lives.
  ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
  if (attrs == nullptr) return;
  ipp_t* uses = ippNew();
  std::vector<const ipp_t*> same(kHeldUses);
  for (ipp_attribute_t* attr = ippFirstAttribute(attrs); attr != nullptr;
       attr = ippNextAttribute(attrs)) {
    if (ippGetValueTag(attr) != IPP_TAG_BEGIN_COLLECTION) continue;
    for (int i = 0; i < ippGetCount(attr); i++) {
      same.assign(same.size(), ippGetCollection(attr, i));
      ippAddCollections(uses, IPP_TAG_PRINTER, ippGetName(attr), kHeldUses, same.data());
    }
  }
  ippDelete(attrs);
  std::lock_guard<std::mutex> lock(heldMutex);
  held().push_back(uses);
#else
  (void)printer;
#endif
}

}  // namespace zeruapp
