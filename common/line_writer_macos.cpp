// The stdout queue on macOS: a serial dispatch queue, no quality-of-service class given.
#include <dispatch/dispatch.h>

#include "line_writer.hpp"

namespace orvane {
namespace {

struct Write {
  Output* output;
  QueueRoom* room;
  std::string text;
};

void perform(void* context) {
  std::unique_ptr<Write> write(static_cast<Write*>(context));
  write->output->writeOut(write->text);
  write->room->give(write->text.size());
}

class DispatchWriteQueue final : public SerialWriteQueue {
 public:
  explicit DispatchWriteQueue(Output& output)
      : output_(output),
        room_(kMaxQueuedBytes),
        queue_(dispatch_queue_create("orvane.sensors.stdout", DISPATCH_QUEUE_SERIAL)) {}
  ~DispatchWriteQueue() override {
    // Lets the queued writes finish before the output goes away.
    dispatch_sync_f(queue_, nullptr, [](void*) {});
    dispatch_release(queue_);
  }

  void submit(std::string text) override {
    if (!room_.take(text.size())) return;
    dispatch_async_f(queue_, new Write{&output_, &room_, std::move(text)}, perform);
  }

 private:
  Output& output_;
  QueueRoom room_;
  dispatch_queue_t queue_;
};

}  // namespace

std::unique_ptr<SerialWriteQueue> makeStdoutQueue(Output& output) {
  return std::make_unique<DispatchWriteQueue>(output);
}

}  // namespace orvane
