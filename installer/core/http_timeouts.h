#pragma once
// The HTTP time-outs every transfer of the installer gets: Windows' defaults, which tests shorten
// through the environment (TREVALON_HTTP_CONNECT_TIMEOUT_MS, TREVALON_HTTP_STALL_TIMEOUT_MS) so
// that no test waits a minute.

#include "installer/platform/http.h"

namespace pellora {

// Read through the services' environment; a value that is no positive number is ignored.
platform::HttpTimeouts http_timeouts();

}  // namespace pellora
