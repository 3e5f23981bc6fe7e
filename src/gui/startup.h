// Start-up steps that come before the window: the current directory, the browser engine's
// environment, and ending cleanly on a termination signal.
#pragma once

#include <functional>

namespace qv {

// Makes the directory of the running executable the current directory, so that every file the
// program names by a bare name lies beside it. False when it could not.
bool EnterProgramDirectory();

// The browser engine's sandbox cannot run as root: turn it off then, and only then.
void PrepareBrowserEnvironment();

// Calls `onSignal` on the window thread when the process gets SIGTERM, SIGINT or SIGHUP (the
// session ending, Ctrl+C), so the program closes through its normal path. Needs the
// application object; call once.
void OnTerminationSignal(std::function<void()> onSignal);

}  // namespace qv
