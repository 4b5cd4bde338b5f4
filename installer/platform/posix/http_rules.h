#pragma once
// The decisions of the HTTP client that do not need a connection.

#include <string_view>

namespace pellora::platform::posix {

// Case-insensitive prefix test against a lower-case prefix.
bool starts_with_no_case(std::string_view text, std::string_view prefix);

// curl follows every 3xx that names a Location except 304.
bool is_followed_redirect(long status);

// Windows' stack never follows a redirect from https down to http, at any hop. Only a followed
// redirect counts: a Location header on any other response is just a header.
bool refuses_redirect(long status, std::string_view current_url, std::string_view location);

}  // namespace pellora::platform::posix
