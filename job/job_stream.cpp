#include "job/job_stream.h"

#include <cerrno>

SendResult sendSpooledPages(zeru::ByteSink& out, PageSpool& spool, SendOrder order,
                            std::vector<uint8_t>& copyBuffer, const JobServices& services,
                            const std::function<void(const zeru::Sending&)>& announce) {
  SendResult outcome = SendResult::Sent;
  SendStep step;
  while (order.next(step)) {
    if (services.cancelled()) {
      outcome = SendResult::Cancelled;
      break;
    }
    if (step.sending) announce(*step.sending);
    SendResult result = SendSpooledPage(out, spool.name(step.page), copyBuffer, services.cancelled);
    if (result == SendResult::OutputFailed) {
      int error = errno;
      spool.removeAll();
      errno = error;
      return result;
    }
    if (step.removeAfter) spool.remove(step.page);
    if (result == SendResult::Cancelled) {
      outcome = result;
      break;
    }
  }
  spool.removeAll();
  return outcome;
}
