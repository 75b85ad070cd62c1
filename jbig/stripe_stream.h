// Compression of a page's planes stripe by stripe while its lines are placed.
//
// Every 128-line stripe of a plane is coded on its own (the encoder resets
// at each stripe), so a stripe can be coded as soon as its last line is in
// the plane, whatever order the lines arrive in: the four engine instances
// place lines y mod 4 each, and a turned page fills its planes from the
// bottom up. Compression then runs one stripe behind the line loop, on
// worker threads of its own, and the page's entities are only put together
// at the end. A stripe whose lines do not all arrive (a line left
// unconverted) is coded at the end, from the plane as it then is.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/plane_buffers.h"
#include "stream/command_record.h"

// Workers for a page's stripes: one per core, at most four (the planes).
unsigned stripeWorkers();

class StripeStream : public StreamingCompression {
 public:
  // `workers` threads code the stripes (at least one).
  explicit StripeStream(unsigned workers = 2);
  ~StripeStream() override;
  StripeStream(const StripeStream&) = delete;
  StripeStream& operator=(const StripeStream&) = delete;

  // Binds the stream to a page whose planes have just been allocated and
  // starts the workers; a page the encoder cannot take as it is (a width
  // that is not a whole number of bytes, no lines) leaves the stream
  // inactive. Ends what an earlier page left first.
  void begin(const PlaneBuffers& planes) override;
  bool active() const override { return active_; }

  // Plane line `line` has been written in every plane of the page. Called
  // from any thread, at most once per line (a line's placement is final).
  void linePlaced(size_t line) override;

  // Waits for the workers, codes the stripes they did not get, and puts
  // each plane's entity into `planes.compressed` with its length, and the
  // lengths and total into `record`, as compressPage does.
  void finish(PlaneBuffers& planes, PageStartRecord& record) override;

  // Stops the workers without putting anything together (a dropped page).
  void abandon() override;

 private:
  struct Unit {
    std::vector<uint8_t> coded;
    std::atomic<bool> done{false};
  };

  void runWorker();
  void codeUnit(size_t stripe, int plane);
  void stopWorkers();

  unsigned workerCount_;
  bool active_ = false;
  const PlaneBuffers* planes_ = nullptr;
  unsigned width_ = 0;
  unsigned lines_ = 0;
  unsigned stripes_ = 0;
  int firstPlane_ = 0;  // planes firstPlane_ .. 3 are coded
  std::unique_ptr<std::atomic<unsigned>[]> placed_;  // lines placed per stripe
  std::unique_ptr<Unit[]> units_;                    // stripe * 4 + plane

  // Stripes ready for coding; guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<size_t> queue_;
  bool closed_ = false;
  std::vector<std::thread> workers_;
};
