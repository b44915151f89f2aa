// The run loop on macOS: NSTimer on the main run loop in the common modes, the main dispatch
// queue for calls handed to the main thread, and a global queue for the input reader.
#if !__has_feature(objc_arc)
#error "This file must be compiled with ARC (-fobjc-arc)."
#endif

#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <vector>

#include "run_loop.hpp"

namespace orvane {
namespace {

// NOTE: exit() is not async-signal-safe (atexit handlers, stdio locks); every line is
// written straight to the descriptor, so _exit loses nothing.
void endProcess(int) { _exit(0); }

class CocoaRunLoop final : public RunLoop {
 public:
  void addRepeatingTimer(double intervalSeconds, std::function<void()> action) override {
    @autoreleasepool {
      auto shared = std::make_shared<std::function<void()>>(std::move(action));
      NSTimer* timer = [NSTimer timerWithTimeInterval:intervalSeconds
                                              repeats:YES
                                                block:^(NSTimer*) {
                                                  @autoreleasepool {
                                                    (*shared)();
                                                  }
                                                }];
      [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSRunLoopCommonModes];
      timers_ = [timers_ arrayByAddingObject:timer];
    }
  }

  void performOnMain(std::function<void()> work) override {
    auto shared = std::make_shared<std::function<void()>>(std::move(work));
    dispatch_async(dispatch_get_main_queue(), ^{
      @autoreleasepool {
        (*shared)();
      }
    });
  }

  void performOnMainAfter(double delaySeconds, std::function<void()> work) override {
    auto shared = std::make_shared<std::function<void()>>(std::move(work));
    const auto delay = static_cast<std::int64_t>(delaySeconds * NSEC_PER_SEC);
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), dispatch_get_main_queue(), ^{
      @autoreleasepool {
        (*shared)();
      }
    });
  }

  void exitOnTerminationSignals() override {
    signal(SIGINT, endProcess);
    signal(SIGTERM, endProcess);
  }

  void callOnTerminationSignals(std::function<void()> action) override {
    auto shared = std::make_shared<std::function<void()>>(std::move(action));
    // NOTE: a dispatch source sees a signal only if it is sent after the source's kevent is
    // registered, and only one sent to the process, not to a thread. A stop that came before
    // (held back by the signal mask at start-up) is noted first and handed over once both
    // sources are registered; SIG_IGN is never set, as it would discard it.
    auto early = std::make_shared<EarlyStopSignals>();
    auto unregistered = std::make_shared<int>(2);
    for (int sig : {SIGINT, SIGTERM}) {
      dispatch_source_t source = dispatch_source_create(
          DISPATCH_SOURCE_TYPE_SIGNAL, static_cast<uintptr_t>(sig), 0, dispatch_get_main_queue());
      dispatch_source_set_event_handler(source, ^{
        @autoreleasepool {
          (*shared)();
        }
      });
      // Runs on the main queue, as the event handler does.
      dispatch_source_set_registration_handler(source, ^{
        if (--*unregistered > 0 || !early->stoppedEarly()) return;
        @autoreleasepool {
          (*shared)();
        }
      });
      dispatch_resume(source);
      signalSources_.push_back(source);
    }
  }

  void readStandardInputLines(std::function<void(const std::string&)> onLine) override {
    auto splitter = std::make_shared<LineSplitter>(std::move(onLine));
    dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
      char buffer[4096];
      for (;;) {
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        @autoreleasepool {
          splitter->feed(buffer, static_cast<std::size_t>(n));
        }
      }
      @autoreleasepool {
        splitter->finish();
      }
    });
  }

  void run() override {
    @autoreleasepool {
      [[NSRunLoop mainRunLoop] run];
    }
  }

 private:
  NSArray<NSTimer*>* timers_ = @[];
  // Kept for the life of the loop: a released source stops delivering.
  std::vector<dispatch_source_t> signalSources_;
};

}  // namespace

std::unique_ptr<RunLoop> makeRunLoopMacOS() { return std::make_unique<CocoaRunLoop>(); }

}  // namespace orvane
