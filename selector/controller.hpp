// CaptureSelectorController: the application delegate of a selection. It covers every screen
// with an overlay, keeps the application active and an overlay key, owns the selection state
// the overlays draw and the pills show, and prints exactly one result before terminating.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "application.hpp"
#include "command_line.hpp"
#include "hit_testing.hpp"
#include "output.hpp"
#include "window_server.hpp"

namespace orvane::selector {

class WindowOverlayView;

bool isEscape(const KeyEvent& event);
bool isReturn(const KeyEvent& event);

// Control, Option and Command: any of them held means the key is a shortcut of someone else.
inline constexpr std::uint64_t kCommandModifiers =
    kModifierControl | kModifierOption | kModifierCommand;  // 0x1C0000

// Re-assertions of activation: after launch, and after each loss of activation.
inline constexpr double kLaunchReassertDelays[] = {0.25, 0.6};
inline constexpr double kResignReassertDelays[] = {0.05, 0.35};

class CaptureSelectorController final : public ApplicationDelegate {
 public:
  CaptureSelectorController(SelectorConfig config, Application& application, WindowServer& server,
                            Output& output);
  ~CaptureSelectorController() override;
  CaptureSelectorController(const CaptureSelectorController&) = delete;
  CaptureSelectorController& operator=(const CaptureSelectorController&) = delete;

  void applicationDidFinishLaunching() override;
  void applicationDidResignActive() override;

  void createOverlayWindows();
  void updateSelectionState(bool forceRepaint = false);
  // Whether the key was handled (and so consumed).
  bool handleKeyDown(const KeyEvent& event);
  void setMode(SelectionMode mode);
  void acceptCurrent();
  void acceptScreen(DisplayId displayId);
  void acceptWindow(const std::optional<WindowCandidate>& candidate);
  void cancel();

  // What the views read.
  const SelectorConfig& config() const { return config_; }
  const std::set<std::int32_t>& excludedPids() const { return excludedPids_; }
  SelectionMode selectionMode() const { return selectionMode_; }
  const std::optional<WindowCandidate>& hoveredWindow() const { return hoveredWindow_; }
  DisplayId activeDisplayId() const { return activeDisplayId_; }
  bool isClosing() const { return isClosing_; }
  std::size_t windowCount() const { return windows_.size(); }
  WindowOverlayView& overlayView(std::size_t index) { return *windows_[index].view; }

  Application& application() { return application_; }
  WindowServer& windowServer() { return server_; }

 private:
  struct Overlay {
    std::unique_ptr<OverlayWindow> window;
    std::unique_ptr<WindowOverlayView> view;
  };

  void installKeyMonitor();
  void reassertActivation(double after);
  // Writes one result and terminates; a no-op once closing.
  template <typename Record>
  void close(const Record& result);

  SelectorConfig config_;
  std::set<std::int32_t> excludedPids_;
  std::vector<Overlay> windows_;
  SelectionMode selectionMode_ = SelectionMode::screen;
  std::optional<WindowCandidate> hoveredWindow_;
  DisplayId activeDisplayId_ = 0;
  bool keyMonitor_ = false;
  bool isClosing_ = false;

  Application& application_;
  WindowServer& server_;
  Output& output_;
  // Delayed work and the key monitor hold this weakly: they do nothing once it is gone.
  std::shared_ptr<CaptureSelectorController*> self_;
};

}  // namespace orvane::selector
