// KWin's adapter started within the session bus probe, so that a tool on KWin pays one round
// trip for both: the probe sends the calls that load the adapter's script with its own
// questions, and the adapter made next (makeKWinCompositor) is the one so started.
#pragma once

#include <vector>

#include "session_bus.hpp"

namespace orvane {

// The calls that load and start KWin's script (none when there is no bus), for the probe's
// batch.
std::vector<BusCall> kwinProbeCalls();

// Their replies, in the same order, and whether the probe found KWin; an adapter for a KWin
// that is not there is ended (its script unloaded) at once.
void kwinProbed(const std::vector<GVariant*>& replies, bool kwin);

}  // namespace orvane
