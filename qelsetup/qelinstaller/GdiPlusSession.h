#pragma once

namespace qel {

// Starts GDI+ once per process; it is shut down when the process exits.
void StartGdiPlusOnce();

}  // namespace qel
