// The accessibility service in its macOS vocabulary: element handles, attribute values by
// kind, attribute writes, the application and system-wide elements, and the element at a
// position. Every failure (no permission, no service, an application that does not answer,
// an attribute it does not have) reads as an absent value; nothing is ever reported.
// Calls are made on one thread: the main thread, or the one thread that made the service.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <variant>
#include <vector>

#include "window_record.hpp"

namespace orvane {

// Attribute names the tools read and write. (Not kAX…Attribute: the macOS SDK defines those
// as macros.)
inline constexpr std::string_view kAttrRole = "AXRole";
inline constexpr std::string_view kAttrSubrole = "AXSubrole";
inline constexpr std::string_view kAttrTitle = "AXTitle";
inline constexpr std::string_view kAttrDescription = "AXDescription";
inline constexpr std::string_view kAttrValue = "AXValue";
inline constexpr std::string_view kAttrHelp = "AXHelp";
inline constexpr std::string_view kAttrURL = "AXURL";
inline constexpr std::string_view kAttrChildren = "AXChildren";
inline constexpr std::string_view kAttrFrame = "AXFrame";
inline constexpr std::string_view kAttrPosition = "AXPosition";
inline constexpr std::string_view kAttrSize = "AXSize";
inline constexpr std::string_view kAttrFocusedWindow = "AXFocusedWindow";
inline constexpr std::string_view kAttrFocusedUIElement = "AXFocusedUIElement";
// The two "switch-on" attributes, written with true to make an application build its tree.
inline constexpr std::string_view kAttrManualAccessibility = "AXManualAccessibility";
inline constexpr std::string_view kAttrEnhancedUserInterface = "AXEnhancedUserInterface";

// An opaque, shared handle of one element of some application. Copies refer to the same
// element. Each backend derives its own node; the logic never looks inside.
class AXElement {
 public:
  struct Node {
    virtual ~Node() = default;
    // What every handle of this element shares, where the backend keeps one object per
    // element; otherwise the node itself.
    virtual const void* identity() const { return this; }
    // Whether `other` is a handle of the same element: by identity, unless the backend can
    // compare elements themselves. Nodes of one element have one hash.
    virtual bool sameElement(const Node& other) const { return identity() == other.identity(); }
    virtual std::size_t elementHash() const { return std::hash<const void*>{}(identity()); }
  };

  AXElement() = default;
  explicit AXElement(std::shared_ptr<const Node> node) : node_(std::move(node)) {}

  const Node* node() const { return node_.get(); }
  // Whether both are handles of one element, where the backend can tell; two empty handles
  // are.
  bool sameElement(const AXElement& other) const {
    if (!node_ || !other.node_) return node_ == other.node_;
    return node_ == other.node_ || node_->sameElement(*other.node_);
  }
  explicit operator bool() const { return node_ != nullptr; }

 private:
  std::shared_ptr<const Node> node_;
};

// Elements seen, each once however many handles of it come (searches use it to walk a tree
// that loops back on itself only once). It keeps the handles it holds, so that no node it
// remembers is freed and its address given to another element meanwhile.
class AXElementSet {
 public:
  // Adds the element; false when it is already there. An empty handle is never kept.
  bool insert(const AXElement& element);
  void clear() { elements_.clear(); }

 private:
  struct Hash {
    std::size_t operator()(const AXElement& e) const { return e.node()->elementHash(); }
  };
  struct Same {
    bool operator()(const AXElement& a, const AXElement& b) const { return a.sameElement(b); }
  };
  std::unordered_set<AXElement, Hash, Same> elements_;
};

// The geometry types of an AXValueRef, by their AXValueType numbers (kAXValueCGPointType 1,
// kAXValueCGSizeType 2, kAXValueCGRectType 3).
enum AXGeometryType : int {
  kAXGeometryPoint = 1,
  kAXGeometrySize = 2,
  kAXGeometryRect = 3,
};

// A geometry value (AXValueRef) in global display points: origin at the top-left of the main
// display, y downwards. A point uses x and y; a size uses width and height; a rectangle all four.
struct AXGeometry {
  AXGeometryType type = kAXGeometryRect;
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// A URL value (CFURLRef): its absolute string.
struct AXURLValue {
  std::string absoluteString;
};

// A number value (CFNumberRef, also what a boolean-like integer attribute gives).
struct AXNumberValue {
  double value = 0;
};

// Any value of a kind the tools never accept (dates, attributed strings, ...).
struct AXOtherValue {};

// One attribute value, by kind. Text is UTF-8, exactly as the application gives it (not
// trimmed; it may be empty). A boolean is a CFBooleanRef.
using AXValue = std::variant<std::string, AXURLValue, AXElement, std::vector<AXElement>, AXGeometry,
                             bool, AXNumberValue, AXOtherValue>;

// AXValueGetTypeID + AXValueGetValue: the value as the wanted geometry type, or nothing when
// it is not a geometry value or holds another geometry type.
std::optional<Point> axPointValue(const AXValue& value);
std::optional<Rect> axSizeValue(const AXValue& value);  // x and y are 0
std::optional<Rect> axRectValue(const AXValue& value);
// CFGetTypeID == AXUIElementGetTypeID: the value as an element.
std::optional<AXElement> axElementValue(const AXValue& value);
// CFGetTypeID == CFStringGetTypeID: the value as text.
std::optional<std::string> axTextValue(const AXValue& value);

// An attribute read as text, unchanged (not trimmed; it may be empty); nothing on any failure
// and for a value of another kind.
class Accessibility;
std::optional<std::string> axString(Accessibility& ax, const AXElement& element,
                                    std::string_view attribute);

// How long one call may wait for an application that does not answer, on every platform.
inline constexpr int kAccessibilityCallTimeoutMs = 800;

class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // From now on, keeps the focused element from the service's events (focusChanges() counts
  // them), where the service sends them. A service whose caller never asks this listens to no
  // events and reads the focused element afresh on every read: events it would not use would
  // only pile up while the application is busy sending them.
  virtual void followFocus() {}

  // Handles what the service has sent meanwhile (focus changes), without waiting. Only for a
  // service made on a thread of its own, whose events no main loop handles; a no-op where
  // the service needs no loop.
  virtual void dispatchPending() {}
  // Counts the changes of the focused element (or of its role) that the service has handled
  // from its events; zero where focus is not kept from events. A reader that sees it move
  // across a read knows the read may describe an element that had already lost focus.
  virtual std::uint64_t focusChanges() const { return 0; }

  // Whether waitForEvents() can block until the service sends something: then a thread of its
  // own handles focus changes as they come rather than in batches before each read.
  virtual bool canWaitForEvents() const { return false; }
  // Waits until the service has sent something and handles it, or until interruptWait().
  virtual void waitForEvents() {}
  // Ends a waitForEvents() under way (or the next one) at once; callable from any thread.
  virtual void interruptWait() {}

  // Waits until the application with keyboard focus has handled the input the window server
  // sent it before now (so that a read made after describes the state after that input):
  // true once it has shown that, false when it has not within `within`; nothing where the
  // platform cannot ask it (then a read is as good as it is without).
  virtual std::optional<bool> awaitFocusedInputHandled(std::chrono::milliseconds within) {
    (void)within;
    return std::nullopt;
  }

  // Whether the service reads nothing only because the display did not answer when it was
  // made (an X server stalled at start-up): one made again once the display answers may read.
  virtual bool madeBeforeTheDisplay() const { return false; }

  // Calls made from now on by the calling thread wait for an application at most until
  // `deadlineMs` on the steady clock (std::chrono::steady_clock, in milliseconds), and never
  // longer than kAccessibilityCallTimeoutMs; nothing lifts the limit. A read that would need
  // more calls after the deadline gives up (reads nothing). A no-op where calls cannot be
  // limited one by one.
  virtual void setCallDeadline(std::optional<std::int64_t> deadlineMs) { (void)deadlineMs; }

  // AXUIElementCreateApplication: the element of the application with that pid. Never fails;
  // an element of a process that is gone (or without the service) simply reads nothing.
  virtual AXElement createApplication(std::int32_t pid) = 0;

  // AXUIElementCreateSystemWide: answers "AXFocusedUIElement" (the element with keyboard
  // focus in the active application) and the element-at-position query.
  virtual AXElement createSystemWide() = 0;

  // AXUIElementCopyAttributeValue: the value on success, nothing on any failure.
  virtual std::optional<AXValue> copyAttributeValue(const AXElement& element,
                                                    std::string_view attribute) = 0;

  // AXUIElementSetAttributeValue with a boolean (kCFBooleanTrue for true); true on success.
  // Callers ignore the result.
  virtual bool setAttributeValue(const AXElement& element, std::string_view attribute,
                                 bool value) = 0;

  // AXUIElementSetMessagingTimeout: how long a call on `element` may wait for its application.
  // Set on the system-wide element, it holds for every element of the process; set on any
  // other, for that handle alone (not for other handles of its element, nor for the elements
  // read from it). A no-op where the backend bounds every call itself.
  virtual void setMessagingTimeout(const AXElement& element, float seconds) {
    (void)element;
    (void)seconds;
  }

  // AXUIElementCopyElementAtPosition on `element` (the system-wide element) with x and y in
  // global display points, single precision as the platform takes them; nothing on failure.
  virtual std::optional<AXElement> copyElementAtPosition(const AXElement& element, float x,
                                                         float y) = 0;

  // The next element-at-position query will be at this point: a backend that must first ask
  // the window server which window lies there may ask it now, while the caller does other
  // work, and the query then waits only on the application. A no-op elsewhere.
  virtual void expectElementAtPosition(float x, float y) {
    (void)x;
    (void)y;
  }
};

// Bounds every call of the service to kAccessibilityCallTimeoutMs, for every element it hands
// out; done once, when the service is made.
void limitCallWaits(Accessibility& ax);

std::unique_ptr<Accessibility> makeAccessibilityMacOS();
std::unique_ptr<Accessibility> makeAccessibilityX11();
std::unique_ptr<Accessibility> makeAccessibilityWayland();
// The backend of the platform this program was built for.
std::unique_ptr<Accessibility> makeAccessibility();

}  // namespace orvane
