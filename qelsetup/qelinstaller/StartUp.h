#pragma once

namespace qel {

// The installer from its command line to its end: loads the scripts, guards against a second
// interactive instance, runs the events silently or through the window. Always returns 0.
int RunStartUp();

}  // namespace qel
