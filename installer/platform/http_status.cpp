#include "installer/platform/http_status.h"

#include <string>

namespace pellora::platform {
namespace {

// The texts Windows' HTTP stack puts in front of the status code.
std::string reason_phrase(uint32_t status) {
  switch (status) {
    case 300:
      return "Multiple choices";
    case 301:
      return "Moved permanently";
    case 302:
      return "Found";
    case 303:
      return "See other";
    case 304:
      return "Not modified";
    case 307:
      return "Temporary redirect";
    case 308:
      return "Permanent redirect";
    case 400:
      return "Bad request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment required";
    case 403:
      return "Forbidden";
    case 404:
      return "Not found";
    case 405:
      return "Method not allowed";
    case 406:
      return "Not acceptable";
    case 407:
      return "Proxy authentication required";
    case 408:
      return "Request timeout";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 411:
      return "Length required";
    case 412:
      return "Precondition failed";
    case 413:
      return "Request entity too large";
    case 414:
      return "Request URI too long";
    case 415:
      return "Unsupported media type";
    case 416:
      return "Requested range not satisfiable";
    case 429:
      return "Too many requests";
    case 500:
      return "Internal server error";
    case 501:
      return "Not implemented";
    case 502:
      return "Bad gateway";
    case 503:
      return "Service unavailable";
    case 504:
      return "Gateway timeout";
    case 505:
      return "HTTP version not supported";
    default:
      return "Response status code does not indicate success";
  }
}

}  // namespace

PlatformError http_status_error(uint32_t status) {
  std::string text = reason_phrase(status) + " (" + std::to_string(status) + ").";
  // The one status a user can do something about without the site: say what it means.
  if (status == 407) {
    text +=
        " The network's proxy server asks for a sign-in that the installer cannot give; ask "
        "your network administrator to let it reach the application's site.";
  }
  return PlatformError(hresult::http_status_base + status, text);
}

std::vector<uint8_t> read_whole_body(HttpResponse& response, uint64_t max_bytes) {
  response.ensure_success_status_code();
  const PlatformError too_large(hresult::file_too_large, "The response is larger than " +
                                                             std::to_string(max_bytes) + " bytes");
  if (auto length = response.content_length(); length && *length > max_bytes) throw too_large;
  std::vector<uint8_t> body;
  uint8_t chunk[65536];
  while (const size_t count = response.read(chunk, sizeof chunk)) {
    if (body.size() + count > max_bytes) throw too_large;
    body.insert(body.end(), chunk, chunk + count);
  }
  return body;
}

}  // namespace pellora::platform
