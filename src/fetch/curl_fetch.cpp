#include "fetch/curl_fetch.h"

#include <curl/curl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "update/tool_version.h"

namespace tavrik {

namespace {

constexpr long kMaxRedirects = 5;

struct Transfer {
    int fd = -1;
    size_t maxBytes = 0;
    size_t received = 0;
    bool tooBig = false;
    bool writeFailed = false;
    int cancelFd = -1;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (n > t.maxBytes - t.received) {
        // Stopped here rather than read whole: a file this size is refused anyway.
        t.tooBig = true;
        return 0;
    }
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(t.fd, data + done, n - done);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            t.writeFailed = true;
            return 0;
        }
        done += static_cast<size_t>(w);
    }
    t.received += n;
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& t = *static_cast<Transfer*>(user);
    if (t.cancelFd < 0) {
        return 0;
    }
    // The caller never writes: anything readable is its end of the pipe closing.
    pollfd p{t.cancelFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 ? 1 : 0;
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

bool IsHttps(const std::string& url) {
    return url.size() > 8 &&
           (url.compare(0, 8, "https://") == 0 || url.compare(0, 8, "HTTPS://") == 0);
}

}  // namespace

FetchResult FetchWithCurl(const std::string& url, int fd, const FetchLimits& limits, int cancelFd) {
    using Clock = std::chrono::steady_clock;
    FetchResult result;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(limits.deadline - Clock::now());
    if (left.count() <= 0) {
        result.status = FetchStatus::TimeLimit;
        result.detail = "the time limit ran out";
        return result;
    }
    GlobalInit();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        result.detail = "no transfer handle";
        return result;
    }
    std::unique_ptr<curl_slist, ListDeleter> headers(
        curl_slist_append(nullptr, "Cache-Control: no-cache"));
    if (headers) {
        curl_slist_append(headers.get(), "Pragma: no-cache");
    }
    Transfer t;
    t.fd = fd;
    t.maxBytes = limits.maxBytes;
    t.cancelFd = cancelFd;
    static const std::string agent =
        "Tavrik/" + std::to_string(kToolVersionMajor) + "." + std::to_string(kToolVersionMinor);
    char error[CURL_ERROR_SIZE] = {};

    CURL* c = easy.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    // An https address never falls back to plain http through a redirect.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, IsHttps(url) ? "https" : "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, IsHttps(url) ? "https" : "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutS);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
    if (limits.lowSpeedBytes > 0 && limits.lowSpeedSeconds > 0) {
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    }
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);

    const CURLcode rc = curl_easy_perform(c);
    result.bytes = t.received;
    result.detail = error[0] != '\0' ? error : curl_easy_strerror(rc);
    if (rc == CURLE_OK) {
        result.status = FetchStatus::Ok;
        result.detail.clear();
    } else if (t.tooBig || rc == CURLE_FILESIZE_EXCEEDED) {
        result.status = FetchStatus::TooBig;
        result.detail = "larger than " + std::to_string(limits.maxBytes) + " bytes";
    } else if (rc == CURLE_ABORTED_BY_CALLBACK) {
        result.status = FetchStatus::Cancelled;
        result.detail = "stopped";
    } else if (rc == CURLE_OPERATION_TIMEDOUT &&
               Clock::now() + std::chrono::milliseconds(50) >= limits.deadline) {
        // The low-speed and the connect limits time out too; only the deadline is this (the
        // margin covers the rounding of the limit to milliseconds).
        result.status = FetchStatus::TimeLimit;
        result.detail = "the time limit ran out";
    } else if (rc == CURLE_HTTP_RETURNED_ERROR) {
        long code = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
        result.detail = "the server answered HTTP " + std::to_string(code);
    } else if (t.writeFailed) {
        result.detail = "cannot write the downloaded file";
    }
    // A line from the transfer library may end in a newline.
    while (!result.detail.empty() &&
           (result.detail.back() == '\n' || result.detail.back() == '\r')) {
        result.detail.pop_back();
    }
    return result;
}

}  // namespace tavrik
