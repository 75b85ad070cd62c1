#include "jbig/stripe_stream.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <new>
#include <system_error>

#include "jbig/jbig_encoder.h"
#include "imaging/worker_thread.h"

unsigned stripeWorkers() {
  unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, 4u);
}

StripeStream::StripeStream(unsigned workers) : workerCount_(std::max(1u, workers)) {}

StripeStream::~StripeStream() { stopWorkers(); }

void StripeStream::begin(const PlaneBuffers& planes) {
  stopWorkers();
  active_ = false;
  units_.reset();
  placed_.reset();

  size_t bytesPerLine = planes.bytesPerLine;
  if (planes.lineWidth <= 0 || planes.lineWidth % 8 != 0 || planes.lines == 0 ||
      planes.lines > UINT_MAX)
    return;
  firstPlane_ = planes.planeCount == 4 ? 0 : kBlackPlane;
  for (int p = firstPlane_; p < 4; ++p)
    if (planes.plane[p].size() / bytesPerLine < planes.lines) return;

  planes_ = &planes;
  width_ = static_cast<unsigned>(planes.lineWidth);
  lines_ = static_cast<unsigned>(planes.lines);
  stripes_ = jbig::stripeCount(lines_);
  try {
    placed_.reset(new std::atomic<unsigned>[stripes_]);
    units_.reset(new Unit[static_cast<size_t>(stripes_) * 4]);
    queue_.clear();
    queue_.reserve(stripes_);
  } catch (const std::bad_alloc&) {
    units_.reset();
    placed_.reset();
    return;
  }
  for (unsigned s = 0; s < stripes_; ++s) placed_[s].store(0, std::memory_order_relaxed);
  closed_ = false;
  active_ = true;

  for (unsigned i = 0; i < workerCount_; ++i) {
    try {
      workers_.push_back(startWorkerThread(&StripeStream::runWorker, this));
    } catch (const std::system_error&) {
      break;  // fewer workers; what they do not get is coded at the end
    }
  }
}

void StripeStream::linePlaced(size_t line) {
  if (!active_ || line >= lines_) return;
  size_t stripe = line / jbig::kStripeLines;
  unsigned stripeLines = std::min<unsigned>(
      jbig::kStripeLines, lines_ - static_cast<unsigned>(stripe) * jbig::kStripeLines);
  // The stripe's last line orders every earlier line's writes before it.
  if (placed_[stripe].fetch_add(1, std::memory_order_acq_rel) + 1 != stripeLines) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(stripe);
  }
  ready_.notify_one();
}

void StripeStream::codeUnit(size_t stripe, int plane) {
  Unit& unit = units_[stripe * 4 + static_cast<size_t>(plane)];
  size_t bytesPerLine = planes_->bytesPerLine;
  unsigned first = static_cast<unsigned>(stripe) * jbig::kStripeLines;
  unsigned lines = std::min(jbig::kStripeLines, lines_ - first);
  unit.coded.clear();
  jbig::encodeStripe(planes_->plane[plane].data() + first * bytesPerLine, bytesPerLine, width_,
                     lines, unit.coded);
  unit.done.store(true, std::memory_order_release);
}

void StripeStream::runWorker() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ready_.wait(lock, [&] { return !queue_.empty() || closed_; });
    if (queue_.empty()) return;
    size_t stripe = queue_.back();
    queue_.pop_back();
    lock.unlock();
    for (int p = firstPlane_; p < 4; ++p) {
      try {
        codeUnit(stripe, p);
      } catch (const std::bad_alloc&) {
        // Left for the end, where it is tried once more.
      }
    }
    lock.lock();
  }
}

void StripeStream::stopWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

void StripeStream::abandon() {
  stopWorkers();
  active_ = false;
  units_.reset();
  placed_.reset();
}

void StripeStream::finish(PlaneBuffers& planes, PageStartRecord& record) {
  // The workers finish what is queued; the rest is coded here.
  stopWorkers();
  uint64_t total = 0;
  for (int p = 0; p < 4; ++p) {
    std::vector<uint8_t>& out = planes.compressed[p];
    out.clear();
    uint32_t length = 0;
    if (p >= firstPlane_ && &planes == planes_) {
      try {
        size_t size = jbig::kHeaderSize;
        for (unsigned s = 0; s < stripes_; ++s) {
          Unit& unit = units_[static_cast<size_t>(s) * 4 + static_cast<size_t>(p)];
          if (!unit.done.load(std::memory_order_acquire)) codeUnit(s, p);
          size += unit.coded.size();
        }
        if (size <= std::numeric_limits<uint32_t>::max()) {
          out.resize(jbig::kHeaderSize);
          jbig::writeHeader(width_, lines_, out.data());
          out.reserve(size);
          for (unsigned s = 0; s < stripes_; ++s) {
            const std::vector<uint8_t>& coded =
                units_[static_cast<size_t>(s) * 4 + static_cast<size_t>(p)].coded;
            out.insert(out.end(), coded.begin(), coded.end());
          }
          length = static_cast<uint32_t>(out.size());
        }
      } catch (const std::bad_alloc&) {
        out.clear();
        length = 0;
      }
    }
    planes.compressedLength[p] = length;
    record.setPlaneLength(p, length);
    total += length;
  }
  record.setCompressedSize(static_cast<uint32_t>(total));
  active_ = false;
  units_.reset();
  placed_.reset();
}
