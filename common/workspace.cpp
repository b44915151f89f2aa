#include "workspace.hpp"

namespace orvane {

const std::set<std::string>& browserBundleIdsMacOS() {
  static const std::set<std::string> ids{"com.apple.Safari",         "com.google.Chrome",
                                         "com.google.Chrome.canary", "company.thebrowser.Browser",
                                         "com.microsoft.edgemac",    "com.brave.Browser",
                                         "com.vivaldi.Vivaldi"};
  return ids;
}

const std::set<std::string>& browserBundleIdsX11() {
  static const std::set<std::string> ids{
      "chromium",       "google-chrome", "google-chrome-unstable",
      "microsoft-edge", "brave-browser", "vivaldi-stable",
      "firefox",        "firefox-esr"};
  return ids;
}

const std::set<std::string>& browserBundleIds() {
#if defined(__APPLE__)
  return browserBundleIdsMacOS();
#else
  // Wayland compositors name applications by the same ids (app_id) as X11's WM_CLASS.
  return browserBundleIdsX11();
#endif
}

}  // namespace orvane
