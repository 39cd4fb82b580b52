#pragma once

namespace qel {

// The user's ordinal from the maker's server; 0 when there is none or the request failed.
// Blocks for the length of the request: call it on a worker thread.
int QueryWelcomeNumber();
// The same, from the given address (narrow text in the thread's ANSI code page).
int QueryWelcomeNumberFrom(const char* address);

}  // namespace qel
