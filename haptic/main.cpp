#include <unistd.h>

#include "haptic.hpp"

// Arguments are ignored.
int main() {
  auto performer = orvane::haptic::makeHapticPerformer();
  return orvane::haptic::run(STDIN_FILENO, *performer);
}
