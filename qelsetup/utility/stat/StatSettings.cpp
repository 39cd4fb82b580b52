#include "StatSettings.h"

#include "../base/DebugOutput.h"

#ifndef QEL_STAT_DISPATCH_HOST
#error "QEL_STAT_DISPATCH_HOST (the statistics dispatch host) is set by the build"
#endif

namespace qel {

extern const wchar_t kStatDispatchHost[] = QEL_WIDEN(QEL_STAT_DISPATCH_HOST);

}  // namespace qel
