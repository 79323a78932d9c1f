// The transfer itself, with libcurl. Only the download helper program links it, so the
// window never loads the transfer and TLS libraries.
#pragma once

#include <string>

#include "update/downloader.h"

namespace tavrik {

// Downloads `url` into the open file `fd`, following redirects, asking caches for a fresh
// copy. Stops as cancelled when `cancelFd` (>= 0) reads end of file or data.
FetchResult FetchWithCurl(const std::string& url, int fd, const FetchLimits& limits, int cancelFd);

}  // namespace tavrik
