// The selector's application on Linux, over an overlay desktop (X11's override-redirect
// windows, or a Wayland compositor's overlay surfaces), one overlay per monitor; the keyboard
// taken while selecting; events in the macOS vocabulary; drawing with Cairo and Pango; the GLib
// main loop for events and delayed work.
//
// "Active" means holding the keyboard (the X11 grab, the exclusive keyboard of a layer
// surface): that is what keeps the user's keys with the selector. The key window is the
// overlay that holds it (or, before the grab, has the focus).
#include <glib.h>
#include <malloc.h>
#include <unistd.h>

#include <thread>

#include "application.hpp"
#include "canvas_cairo.hpp"
#include "lazy_libraries_linux.hpp"
#include "overlay_desktop.hpp"
#include "overlay_view.hpp"
#include "pill_surface_cairo.hpp"
#include "results.hpp"
#include "run_loop.hpp"
#include "text_measure_pango.hpp"

namespace orvane::selector {
namespace {

using linux_ui::Desktop;

// Seconds on a monotonic clock, for animations.
double monotonicSeconds() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

class LinuxApplication;

// One overlay's painting state.
struct Slot {
  std::size_t index = 0;  // in the desktop
  WindowOverlayView* view = nullptr;
  bool acceptsMouseMoved = false;
  bool needsDisplay = true;
  bool painted = false;
  std::vector<linux_ui::PaintOp> lastOps;
  std::vector<Rect> damage;
  linux_ui::CairoPillSurface* pill = nullptr;
  linux_ui::CairoBubbleSurface* bubble = nullptr;
  bool pillPressed = false;
};

class OverlayViewHost;

class DesktopOverlayWindow final : public OverlayWindow {
 public:
  DesktopOverlayWindow(LinuxApplication& app, std::size_t slot) : app_(app), slot_(slot) {}
  void setAcceptsMouseMovedEvents(bool accepts) override;
  ViewHost& setContentView(WindowOverlayView& view) override;
  void makeKeyAndOrderFront() override;
  void orderFrontRegardless() override;
  // The content view is the overlay's only responder.
  void makeContentViewFirstResponder() override {}
  void makeKeyWindow() override;

 private:
  LinuxApplication& app_;
  std::size_t slot_;
  std::unique_ptr<OverlayViewHost> host_;
};

class OverlayViewHost final : public ViewHost {
 public:
  OverlayViewHost(LinuxApplication& app, std::size_t slot) : app_(app), slot_(slot) {}
  void setNeedsDisplay() override;
  bool hasWindow() override { return true; }
  bool windowIsKey() override;
  void makeWindowKey() override;
  std::unique_ptr<PillSurface> addPill(std::function<void(PillAction)> perform) override;
  std::unique_ptr<BubbleSurface> addWarningBubble(const std::string& text) override;

 private:
  LinuxApplication& app_;
  std::size_t slot_;
};

class LinuxApplication final : public Application {
 public:
  explicit LinuxApplication(std::unique_ptr<Desktop> desktop)
      : desktop_(std::move(desktop)), runLoop_(makeRunLoopX11()) {}
  ~LinuxApplication() override {
    if (animationTimer_ != 0) g_source_remove(animationTimer_);
    if (fontWarmUp_.joinable()) fontWarmUp_.join();
  }

  // No dock or application switcher on X11 to keep out of: the overlays are
  // override-redirect windows, which no window manager lists.
  void setActivationPolicy(ActivationPolicy) override {}

  void activateIgnoringOtherApps(bool) override {
    if (slots_.empty()) return;
    desktop_->raiseAll();
    // The key overlay is a desktop index; before any, the first overlay.
    const Slot* key = slotOf(desktop_->keyOverlay().value_or(slots_.front().index));
    desktop_->takeKeyboard(key ? key->index : slots_.front().index);
  }

  bool isActive() override { return desktop_->holdsKeyboard(); }
  bool hasKeyWindow() override { return desktop_->keyOverlay().has_value(); }

  std::vector<Screen> screens() override {
    desktop_->start();
    std::vector<Screen> list;
    const auto monitors = desktop_->monitors();
    if (monitors.empty()) return list;
    const double mainHeight = monitors.front().frame.height;
    for (const auto& m : monitors) {
      Screen s;
      // The application kit's screen space: origin at the main screen's bottom-left, y up.
      s.frame = {m.frame.x, mainHeight - (m.frame.y + m.frame.height), m.frame.width,
                 m.frame.height};
      s.info.screenNumber.emplace(static_cast<std::int64_t>(m.id));
      s.info.backingScaleFactor = desktop_->scale();
      list.push_back(s);
    }
    return list;
  }

  std::unique_ptr<OverlayWindow> makeOverlayWindow(const Screen& screen) override {
    desktop_->start();
    const auto monitors = desktop_->monitors();
    linux_ui::Monitor monitor = monitors.front();
    const auto id = screen.info.screenNumber ? asUInt32(*screen.info.screenNumber) : std::nullopt;
    for (const auto& m : monitors) {
      if (id && m.id == *id) monitor = m;
    }
    Slot slot;
    slot.index = desktop_->createOverlay(monitor);
    slots_.push_back(slot);
    return std::make_unique<DesktopOverlayWindow>(*this, slots_.size() - 1);
  }

  void addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) override {
    keyMonitor_ = std::move(handler);
  }

  void performAfter(double delaySeconds, std::function<void()> work) override {
    runLoop_->performOnMainAfter(delaySeconds, std::move(work));
  }

  void terminate() override {
    // Every result is written straight to the descriptor; the X server drops the overlays
    // with the connection.
    _exit(0);
  }

  std::int32_t getpid() override { return static_cast<std::int32_t>(::getpid()); }

  // X11 windows have no frame view to ask; the selector keeps its default radius.
  std::optional<double> probeWindowCornerRadius() override { return std::nullopt; }

  TextMeasurer& textMeasurer() override { return text(); }

  void run(ApplicationDelegate& delegate) override {
    // The display is opened here rather than when the application is made, so that the
    // warm-up never waits for the X server. Without a display, or without Cairo and Pango,
    // nothing can be shown or chosen: the host still gets its one line.
    if (!desktop_->connect() || !linux_ui::loadDrawingLibraries()) {
      writeCancelledLine(STDOUT_FILENO);
      return;
    }
    // Reading the font configuration is the slowest part of starting: it runs beside the
    // X set-up, and the first use of text waits for it (text()).
    fontWarmUp_ = std::thread(
        [fcInit = reinterpret_cast<int (*)()>(linux_ui::drawingSymbol("FcInit"))] { fcInit(); });
    delegate_ = &delegate;
    // Every pointer move in window mode takes a window snapshot of a few thousand small
    // replies and lets it go: keep the freed heap for the next one instead of handing it back
    // to the system and faulting it in again.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_TOP_PAD, 4 << 20);
    desktop_->start();
    Desktop::Handlers h;
    h.pointerMoved = [this](std::size_t i, double x, double y) { pointerMoved(i, x, y); };
    h.dragged = [this](std::size_t i, double, double) {
      if (auto* s = slotOf(i); s && s->view) s->view->mouseDragged();
    };
    h.buttonPressed = [this](std::size_t i, double x, double y) { buttonPressed(i, x, y); };
    h.buttonReleased = [this](std::size_t i, double x, double y) {
      if (auto* s = slotOf(i); s && s->pillPressed) {
        s->pillPressed = false;
        if (s->pill) s->pill->mouseUp(x, y);
      }
    };
    h.pointerLeft = [this](std::size_t i) {
      if (auto* s = slotOf(i); s && s->pill) s->pill->pointerLeft();
    };
    h.keyPressed = [this](const linux_ui::KeyPress& k) { keyPressed(k); };
    h.activationLost = [this] {
      if (delegate_) delegate_->applicationDidResignActive();
    };
    h.exposed = [this](std::size_t i) {
      if (auto* s = slotOf(i)) {
        s->needsDisplay = true;
        requestRedraw();
      }
    };
    h.displayLost = [] {
      // Nothing can be shown or chosen any more: the host still gets its one line.
      writeCancelledLine(STDOUT_FILENO);
      _exit(0);
    };
    desktop_->setHandlers(std::move(h));
    desktop_->attachToMainLoop();
    runLoop_->performOnMain([this] {
      delegate_->applicationDidFinishLaunching();
      desktop_->flush();
    });
    runLoop_->run();
  }

  // --- used by the windows, hosts and surfaces ---

  Slot& slot(std::size_t s) { return slots_.at(s); }

  // The veil is painted as the overlay appears, before the pill's text is laid out (the
  // first use of the fonts is the slowest part of starting).
  void show(std::size_t s) {
    desktop_->showOverlay(slots_.at(s).index);
    if (!slots_.at(s).painted) redraw(slots_.at(s));
  }
  void raise() { desktop_->raiseAll(); }
  void makeKey(std::size_t s) {
    desktop_->raiseAll();
    desktop_->takeKeyboard(slots_.at(s).index);
  }
  // Key only with the keyboard grab: while another client holds the keyboard, every pointer
  // move over an overlay tries again to take it.
  bool isKey(std::size_t s) {
    return desktop_->holdsKeyboard() && desktop_->keyOverlay() == slots_.at(s).index;
  }

  void setNeedsDisplay(std::size_t s) {
    slots_.at(s).needsDisplay = true;
    requestRedraw();
  }

  linux_ui::SurfaceSink sinkFor(std::size_t s, bool pill) {
    return {[this, s](const Rect& r) {
              slots_.at(s).damage.push_back(r);
              requestRedraw();
            },
            [this] { startAnimating(); },
            [this, s, pill] {
              if (pill) {
                slots_.at(s).pill = nullptr;
              } else {
                slots_.at(s).bubble = nullptr;
              }
            }};
  }

  // The first measuring or drawing of text waits for the font warm-up.
  linux_ui::PangoText& text() {
    if (!text_) {
      text_ = std::make_unique<linux_ui::PangoText>([this] {
        if (fontWarmUp_.joinable()) fontWarmUp_.join();
      });
    }
    return *text_;
  }

 private:
  Slot* slotOf(std::size_t desktopIndex) {
    for (auto& s : slots_) {
      if (s.index == desktopIndex) return &s;
    }
    return nullptr;
  }

  void pointerMoved(std::size_t i, double x, double y) {
    Slot* s = slotOf(i);
    if (!s) return;
    if (s->pill) s->pill->pointerMoved(x, y);
    if (s->acceptsMouseMoved && s->view) s->view->mouseMoved();
  }

  void buttonPressed(std::size_t i, double x, double y) {
    Slot* s = slotOf(i);
    if (!s || !s->view) return;
    // The pill takes presses on itself; the bubble lets them through to the overlay.
    if (s->pill && s->pill->mouseDown(x, y)) {
      s->pillPressed = true;
      return;
    }
    s->view->mouseDown();
  }

  void keyPressed(const linux_ui::KeyPress& k) {
    KeyEvent event{k.keyCode, k.modifierFlags, k.charactersIgnoringModifiers};
    if (keyMonitor_ && keyMonitor_(event)) return;
    const auto key = desktop_->keyOverlay();
    if (!key) return;
    if (Slot* s = slotOf(*key); s && s->view) {
      // An unhandled key has no default handling on X11.
      s->view->keyDown(event);
    }
  }

  void requestRedraw() {
    if (redrawPending_) return;
    redrawPending_ = true;
    runLoop_->performOnMain([this] {
      redrawPending_ = false;
      redraw();
    });
  }

  void redraw() {
    for (auto& s : slots_) redraw(s);
  }

  void redraw(Slot& s) {
    if (!s.view) return;
    const Rect bounds = s.view->bounds();
    std::vector<Rect> damage;
    if (s.needsDisplay || !s.painted) {
      linux_ui::PaintRecorder recorder;
      s.view->draw(recorder);
      damage = s.painted ? linux_ui::damageBetween(s.lastOps, recorder.ops, bounds)
                         : std::vector<Rect>{bounds};
      s.lastOps = std::move(recorder.ops);
      s.needsDisplay = false;
    }
    damage.insert(damage.end(), s.damage.begin(), s.damage.end());
    s.damage.clear();
    if (damage.empty()) return;
    const std::size_t index = s.index;
    const double height = bounds.height;
    desktop_->paint(index, damage, [&](cairo_t* cr) {
      linux_ui::replay(cr, s.lastOps, height,
                       [&](cairo_t* c) { desktop_->fillWithBackground(c, index); });
      if (s.pill) s.pill->paint(cr, height);
      if (s.bubble) s.bubble->paint(cr, height);
    });
    s.painted = true;
  }

  void startAnimating() {
    if (animationTimer_ != 0) return;
    animationTimer_ = g_timeout_add_full(G_PRIORITY_DEFAULT, 16, &LinuxApplication::animationFrame,
                                         this, nullptr);
  }

  static gboolean animationFrame(gpointer data) {
    auto* self = static_cast<LinuxApplication*>(data);
    bool any = false;
    for (auto& s : self->slots_) {
      if (s.pill && s.pill->tick()) any = true;
    }
    if (!any) self->animationTimer_ = 0;
    return any ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
  }

  std::unique_ptr<Desktop> desktop_;
  std::unique_ptr<RunLoop> runLoop_;
  std::unique_ptr<linux_ui::PangoText> text_;
  std::thread fontWarmUp_;
  ApplicationDelegate* delegate_ = nullptr;
  std::function<bool(const KeyEvent&)> keyMonitor_;
  std::vector<Slot> slots_;
  bool redrawPending_ = false;
  guint animationTimer_ = 0;  // the pill's animation frames, while one runs

  friend class OverlayViewHost;
  friend class DesktopOverlayWindow;
};

void DesktopOverlayWindow::setAcceptsMouseMovedEvents(bool accepts) {
  app_.slot(slot_).acceptsMouseMoved = accepts;
}

ViewHost& DesktopOverlayWindow::setContentView(WindowOverlayView& view) {
  app_.slot(slot_).view = &view;
  app_.slot(slot_).needsDisplay = true;
  host_ = std::make_unique<OverlayViewHost>(app_, slot_);
  return *host_;
}

void DesktopOverlayWindow::makeKeyAndOrderFront() {
  app_.show(slot_);
  app_.makeKey(slot_);
}

void DesktopOverlayWindow::orderFrontRegardless() {
  app_.show(slot_);
  app_.raise();
}

void DesktopOverlayWindow::makeKeyWindow() { app_.makeKey(slot_); }

void OverlayViewHost::setNeedsDisplay() { app_.setNeedsDisplay(slot_); }
bool OverlayViewHost::windowIsKey() { return app_.isKey(slot_); }
void OverlayViewHost::makeWindowKey() { app_.makeKey(slot_); }

std::unique_ptr<PillSurface> OverlayViewHost::addPill(std::function<void(PillAction)> perform) {
  auto pill = std::make_unique<linux_ui::CairoPillSurface>(
      app_.text(), std::move(perform), app_.sinkFor(slot_, true), &monotonicSeconds);
  app_.slot(slot_).pill = pill.get();
  return pill;
}

std::unique_ptr<BubbleSurface> OverlayViewHost::addWarningBubble(const std::string& text) {
  auto bubble =
      std::make_unique<linux_ui::CairoBubbleSurface>(app_.text(), text, app_.sinkFor(slot_, false));
  app_.slot(slot_).bubble = bubble.get();
  return bubble;
}

}  // namespace

std::unique_ptr<Application> makeApplicationX11() { return makeApplicationOn(Desktop::make()); }

std::unique_ptr<Application> makeApplicationOn(std::unique_ptr<linux_ui::Desktop> desktop) {
  return std::make_unique<LinuxApplication>(std::move(desktop));
}

}  // namespace orvane::selector
