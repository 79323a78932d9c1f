#include "app/applog.h"

#include <glog/logging.h>

#include "log/log.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>

#include "app/app_globals.h"
#include "platform/log_file_sink.h"

namespace tavrik {

namespace {

std::mutex g_setupMutex;
std::unique_ptr<LogFileSink> g_sink;
std::atomic<bool> g_dlgDebug{false};

void DropSink() {
    if (g_sink) {
        google::RemoveLogSink(g_sink.get());
        g_sink.reset();
    }
}

// glog writes no files of its own: its file names carry a date and a process number, and it
// locks its files, which would shut a second copy out of the shared log.
void ConfigureGlog(const char* programName) {
    FLAGS_logtostderr = false;
    FLAGS_logbufsecs = 0;
    FLAGS_max_log_size = 10;
    FLAGS_stop_logging_if_full_disk = true;
    for (google::LogSeverity s = google::GLOG_INFO; s < google::NUM_SEVERITIES; ++s) {
        google::SetLogDestination(s, "");
    }
    if (!google::IsGoogleLoggingInitialized()) {
        google::InitGoogleLogging(programName);
    }
}

}  // namespace

bool SetUpLog(const std::filesystem::path& dataFolder) {
    std::lock_guard lock(g_setupMutex);
    DropSink();
    std::error_code ec;
    if (!std::filesystem::is_directory(dataFolder, ec)) {
        std::filesystem::create_directories(dataFolder, ec);
    }
    const bool haveFolder = std::filesystem::is_directory(dataFolder, ec);
    const std::filesystem::path file = dataFolder / kLogFileName;
    if (haveFolder && std::filesystem::is_regular_file(file, ec)) {
        const std::uintmax_t size = std::filesystem::file_size(file, ec);
        if (!ec && size > kLogSizeLimit) {
            std::filesystem::remove(file, ec);
        }
    }
    ConfigureGlog("Tavrik");
    google::SetStderrLogging(google::GLOG_INFO);
    if (haveFolder) {
        g_sink = LogFileSink::Open(file, "Tavrik", kLogSizeLimit);
        if (g_sink) {
            google::AddLogSink(g_sink.get());
        }
    }
    return g_sink != nullptr;
}

void SetUpCommandLineLog(bool verbose) {
    std::lock_guard lock(g_setupMutex);
    DropSink();
    ConfigureGlog("tavrikctl");
    // Without --verbose the command says what failed in its own words; glog's warning
    // lines would only repeat it.
    google::SetStderrLogging(verbose ? google::GLOG_INFO : google::GLOG_ERROR);
}

void ShutDownLog() {
    std::lock_guard lock(g_setupMutex);
    DropSink();
    if (google::IsGoogleLoggingInitialized()) {
        google::ShutdownGoogleLogging();
    }
}

void SetDlgDebugLog(bool on) {
    g_dlgDebug = on;
}

bool IsDlgDebugLogOn() {
    return g_dlgDebug;
}

void DlgLog(std::string_view text, int line) {
    if (g_bAppExit == 0) {
        LogLine("TavrikDlg", line, text);
    }
}

void DlgDebugLog(std::string_view text, int line) {
    if (g_dlgDebug) {
        DlgLog(text, line);
    }
}

void AppLog(std::string_view text, int line) {
    LogLine("Tavrik", line, text);
}

}  // namespace tavrik
