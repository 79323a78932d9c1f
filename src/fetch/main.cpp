// tavrik-fetch: downloads one address for the programs, so that neither the window nor the
// command line loads the transfer and TLS libraries, and what a server sends is parsed in
// a process of its own. Not meant to be run by hand.
//
//   tavrik-fetch URL MAX_BYTES CONNECT_S TIME_LIMIT_MS LOW_SPEED_BYTES LOW_SPEED_S
//
// The body goes to standard output, one result line to file descriptor 3 (see
// fetch_protocol.h); the end of standard input cancels the transfer.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "fetch/curl_fetch.h"
#include "update/fetch_protocol.h"

int main(int argc, char** argv) {
    using namespace tavrik;
    if (argc != 7) {
        std::fprintf(stderr, "tavrik-fetch: used by tavrik and tavrikctl, not by hand\n");
        return 64;
    }
    const std::optional<FetchLimits> limits = ParseFetchLimits(argv + 2);
    if (!limits) {
        std::fprintf(stderr, "tavrik-fetch: a limit is not a number\n");
        return 64;
    }
    const FetchResult result = FetchWithCurl(argv[1], STDOUT_FILENO, *limits, STDIN_FILENO);
    const std::string line = FormatFetchResult(result);
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t w = ::write(kFetchResultFd, line.data() + done, line.size() - done);
        if (w <= 0) {
            return 1;
        }
        done += static_cast<size_t>(w);
    }
    return result.status == FetchStatus::Ok ? 0 : 1;
}
