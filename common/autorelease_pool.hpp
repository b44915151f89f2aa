// An autorelease pool for the length of a scope, for threads of our own that call the
// platform's frameworks: objects those autorelease are released when the scope ends, not
// kept for the life of the thread. Nothing elsewhere than on macOS.
#pragma once

#if defined(__APPLE__)
// NOTE: what @autoreleasepool compiles to; the Objective-C runtime exports both.
extern "C" void* objc_autoreleasePoolPush(void);
extern "C" void objc_autoreleasePoolPop(void* pool);
#endif

namespace orvane {

class AutoreleasePool {
 public:
#if defined(__APPLE__)
  AutoreleasePool() : pool_(objc_autoreleasePoolPush()) {}
  ~AutoreleasePool() { objc_autoreleasePoolPop(pool_); }
#else
  // Not trivial, so that a pool held for its scope is never an unused variable.
  AutoreleasePool() {}
  ~AutoreleasePool() {}
#endif
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;

 private:
#if defined(__APPLE__)
  void* pool_;
#endif
};

}  // namespace orvane
