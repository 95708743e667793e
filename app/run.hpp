#pragma once

namespace app {

// The whole tool: arguments in, exit status (0 or 1) out.
int runTool(int argc, const char* const* argv);

}  // namespace app
