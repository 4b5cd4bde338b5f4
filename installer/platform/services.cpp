#include "installer/platform/services.h"

namespace pellora::platform {

Services& services() {
  static Services instance;
  return instance;
}

}  // namespace pellora::platform
