// The output phase of a job: its spooled pages to the printer in their order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "job/page_order.h"
#include "job/spool.h"
#include "zeru/byte_sink.h"
#include "job/page_stream.h"
#include "settings/job_services.h"

// Sends the spooled pages in `order`, each followed by its page-end record,
// and removes each file after its last sending; whatever is left (a
// cancelled job, no pass at all for zero collated copies) is removed at the
// end. `announce` gets each two-sided step's sending before the
// page goes. Returns Sent, Cancelled once the job's services say so, or
// OutputFailed (errno set) when the sink refused a page for good.
SendResult sendSpooledPages(zeru::ByteSink& out, PageSpool& spool, SendOrder order,
                            std::vector<uint8_t>& copyBuffer, const JobServices& services,
                            const std::function<void(const zeru::Sending&)>& announce);
