#include "selector.hpp"

#include "command_line.hpp"
#include "controller.hpp"
#include "results.hpp"

namespace orvane::selector {

double resolvedWindowCornerRadius = kDefaultWindowCornerRadius;

int runSelector(const std::vector<std::string>& arguments, const SelectorPlatform& platform,
                Output& output) {
  resolvedWindowCornerRadius = kDefaultWindowCornerRadius;
  const ParsedArguments parsed = parseArguments(arguments);
  switch (parsed.invocation) {
    case Invocation::misuse:
      output.writeErr(kUsage);
      return 2;
    case Invocation::warm:
      // The application object is made and let go at once: the warm-up loads the frameworks.
      platform.makeApplication().reset();
      output.writeOut(kWarmAnswer);
      return 0;
    case Invocation::select:
      break;
  }
  auto application = platform.makeApplication();
  if (!application) {
    writeJson(output, CancelledOutput{});
    return 0;
  }
  auto server = platform.makeWindowServer();
  CaptureSelectorController controller(parsed.config, *application, *server, output);
  application->run(controller);
  return 0;
}

}  // namespace orvane::selector
