// Any bytes as what a session bus sends: measured, read as messages, never a crash, and a
// message read is never longer than the bytes it was read from.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bus_wire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace orvane;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  buswire::socketOf(rest);
  while (!rest.empty()) {
    const auto length = buswire::messageSize(rest);
    if (!length || *length == 0) break;
    if (*length > rest.size()) std::abort();
    buswire::parseMessage(rest.substr(0, *length));
    rest.remove_prefix(*length);
  }
  return 0;
}
