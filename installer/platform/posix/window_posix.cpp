// Placeholder until this service is built.
#include "installer/platform/posix/backend.h"

namespace pellora::platform::posix {

WindowSurface* window_surface() { return nullptr; }

}  // namespace pellora::platform::posix
