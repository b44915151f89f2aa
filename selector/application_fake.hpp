// An application for unit tests: records every platform call in one log, in order, and lets a
// test run delayed work, press keys through the key monitor and click pill actions.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "application.hpp"
#include "json.hpp"
#include "text_measure_fake.hpp"

namespace orvane::selector {

class FakeApplication;

class FakePillSurface final : public PillSurface {
 public:
  struct Shown {
    PillLayout layout;
    bool animated;
  };
  std::vector<Shown> shown;
  std::function<void(PillAction)> perform;

  void show(const PillLayout& layout, bool animated) override {
    shown.push_back({layout, animated});
  }
};

class FakeBubbleSurface final : public BubbleSurface {
 public:
  std::string text;
  std::vector<BubbleLayout> layouts;
  void setLayout(const BubbleLayout& layout) override { layouts.push_back(layout); }
};

class FakeOverlayWindow;

class FakeViewHost final : public ViewHost {
 public:
  FakeViewHost(FakeOverlayWindow& window, WindowOverlayView& view) : view(view), window_(window) {}

  WindowOverlayView& view;
  int needsDisplay = 0;
  bool inWindow = true;
  FakePillSurface* pill = nullptr;      // owned by the view's pill
  FakeBubbleSurface* bubble = nullptr;  // owned by the view's bubble
  std::vector<std::string> subviews;    // "pill", "bubble", in the order added

  void setNeedsDisplay() override { ++needsDisplay; }
  bool hasWindow() override { return inWindow; }
  bool windowIsKey() override;
  void makeWindowKey() override;
  std::unique_ptr<PillSurface> addPill(std::function<void(PillAction)> perform) override {
    auto surface = std::make_unique<FakePillSurface>();
    surface->perform = std::move(perform);
    pill = surface.get();
    subviews.push_back("pill");
    return surface;
  }
  std::unique_ptr<BubbleSurface> addWarningBubble(const std::string& text) override {
    auto surface = std::make_unique<FakeBubbleSurface>();
    surface->text = text;
    bubble = surface.get();
    subviews.push_back("bubble");
    return surface;
  }

 private:
  FakeOverlayWindow& window_;
};

class FakeOverlayWindow final : public OverlayWindow {
 public:
  FakeOverlayWindow(FakeApplication& app, Screen screen, int index)
      : screen(std::move(screen)), index(index), app_(app) {}
  ~FakeOverlayWindow() override;

  Screen screen;
  int index;
  bool acceptsMouseMoved = false;
  std::unique_ptr<FakeViewHost> host;

  void setAcceptsMouseMovedEvents(bool accepts) override {
    acceptsMouseMoved = accepts;
    log("setAcceptsMouseMovedEvents");
  }
  ViewHost& setContentView(WindowOverlayView& view) override {
    host = std::make_unique<FakeViewHost>(*this, view);
    log("setContentView");
    return *host;
  }
  void makeKeyAndOrderFront() override;
  void orderFrontRegardless() override { log("orderFrontRegardless"); }
  void makeContentViewFirstResponder() override { log("makeFirstResponder"); }
  void makeKeyWindow() override;

  void log(const std::string& call);
  bool isKey() const;

 private:
  FakeApplication& app_;
};

class FakeApplication final : public Application {
 public:
  struct Delayed {
    double delaySeconds;
    std::function<void()> work;
  };

  std::vector<std::string> log;  // every call, in order; window calls as "window <i>: <call>"
  std::vector<Screen> screenList;
  bool active = false;
  FakeOverlayWindow* keyWindow = nullptr;
  std::vector<FakeOverlayWindow*> windows;  // in creation order; owned by the controller
  std::function<bool(const KeyEvent&)> keyMonitor;
  std::vector<Delayed> delayed;
  int terminations = 0;
  std::int32_t pid = 4242;
  std::optional<double> cornerRadius;
  FixedAdvanceMeasurer measurer;
  ApplicationDelegate* delegate = nullptr;
  // What the event loop does once the delegate is set; nothing by default.
  std::function<void(FakeApplication&, ApplicationDelegate&)> onRun;

  void setActivationPolicy(ActivationPolicy policy) override {
    log.push_back("setActivationPolicy " + std::to_string(static_cast<int>(policy)));
  }
  void activateIgnoringOtherApps(bool flag) override {
    log.push_back(std::string("activateIgnoringOtherApps ") + (flag ? "true" : "false"));
    active = true;
  }
  bool isActive() override { return active; }
  bool hasKeyWindow() override { return keyWindow != nullptr; }
  std::vector<Screen> screens() override { return screenList; }
  std::unique_ptr<OverlayWindow> makeOverlayWindow(const Screen& screen) override {
    auto window =
        std::make_unique<FakeOverlayWindow>(*this, screen, static_cast<int>(windows.size()));
    windows.push_back(window.get());
    log.push_back("makeOverlayWindow " + std::to_string(windows.size() - 1));
    return window;
  }
  void addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) override {
    keyMonitor = std::move(handler);
    log.push_back("addLocalKeyDownMonitor");
  }
  void performAfter(double delaySeconds, std::function<void()> work) override {
    delayed.push_back({delaySeconds, std::move(work)});
    log.push_back("performAfter " + json::formatDouble(delaySeconds));
  }
  void terminate() override {
    ++terminations;
    log.push_back("terminate");
  }
  std::int32_t getpid() override { return pid; }
  std::optional<double> probeWindowCornerRadius() override {
    log.push_back("probeWindowCornerRadius");
    return cornerRadius;
  }
  TextMeasurer& textMeasurer() override { return measurer; }
  void run(ApplicationDelegate& d) override {
    delegate = &d;
    log.push_back("run");
    if (onRun) onRun(*this, d);
  }

  // Test controls.
  // Runs the delayed work scheduled so far, in order; work it schedules waits for the next call.
  void runDelayed() {
    auto pending = std::move(delayed);
    delayed.clear();
    for (auto& d : pending) d.work();
  }
  // A key-down through the monitor; answers whether it was consumed.
  bool press(std::uint16_t keyCode, std::optional<std::string> characters = std::nullopt,
             std::uint64_t modifiers = 0) {
    return keyMonitor && keyMonitor(KeyEvent{keyCode, modifiers, std::move(characters)});
  }
  void forget(FakeOverlayWindow* window) {
    std::erase(windows, window);
    if (keyWindow == window) keyWindow = nullptr;
  }
};

inline FakeOverlayWindow::~FakeOverlayWindow() { app_.forget(this); }
inline void FakeOverlayWindow::log(const std::string& call) {
  app_.log.push_back("window " + std::to_string(index) + ": " + call);
}
inline void FakeOverlayWindow::makeKeyAndOrderFront() {
  app_.keyWindow = this;
  log("makeKeyAndOrderFront");
}
inline void FakeOverlayWindow::makeKeyWindow() {
  app_.keyWindow = this;
  log("makeKeyWindow");
}
inline bool FakeOverlayWindow::isKey() const { return app_.keyWindow == this; }
inline bool FakeViewHost::windowIsKey() { return inWindow && window_.isKey(); }
inline void FakeViewHost::makeWindowKey() {
  if (inWindow) window_.makeKeyWindow();
}

}  // namespace orvane::selector
