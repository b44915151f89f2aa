#include <unistd.h>

#include "window_list.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  orvane::StandardOutput output;
  // The usage check comes before the window server is reached.
  if (!orvane::windowlist::parseArguments(arguments, getpid())) {
    output.writeErr(orvane::windowlist::kUsage);
    return 2;
  }
  auto server = orvane::makeWindowServer();
  return orvane::windowlist::run(arguments, getpid(), *server, output);
}
