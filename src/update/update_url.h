// Addresses of the update server and of the files it names.
#pragma once

#include <string>

namespace tavrik {

// An http or https address with a host and nothing a transfer should not see (blanks,
// control characters).
bool IsUpdateUrl(const std::string& url);

// The address of a link from the version-information file: an absolute http(s) address as
// it is, an address without scheme ("//host/...") with the server's scheme, anything else
// appended to the server address. Empty when the link is empty, names another scheme, or
// the result is not a usable address.
std::string ResolveLink(const std::string& server, const std::string& link);

}  // namespace tavrik
