#pragma once

namespace qel {

// The host the statistics library sends its reports to (a build setting).
extern const wchar_t kStatDispatchHost[];

}  // namespace qel
