#include "selector.hpp"

int main(int argc, char** argv) {
  using namespace orvane;
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  StandardOutput output;
  const selector::SelectorPlatform platform{[] { return selector::makeApplicationMacOS(); },
                                            [] { return makeWindowServer(); }};
  return selector::runSelector(arguments, platform, output);
}
