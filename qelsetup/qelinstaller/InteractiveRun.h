#pragma once

namespace qel {

// The windowed branch of start-up; returns when the window and its services are gone.
void RunInteractive();

}  // namespace qel
