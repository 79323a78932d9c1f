// Long operations of a session (all-keys colours, mode changes with their long pauses,
// macro transfers, rescans, upgrades) run as jobs on one worker thread per session, in
// the order they were submitted, so the caller's thread (a window) never waits for them.
// Each job reports its start, progress and end through the session's notifications
// (UM_JOB_STATE); the full detail stays queryable by id.
//
// Threads: Submit, Status and Cancel only take the runner's lock, which is never held
// while a job runs or a notification is sent. Wait blocks its caller up to its limit and
// is meant for the command line and tests. Shutdown (the session closing) cancels what is
// queued, asks the running job to stop and joins the worker: a job's pauses go through
// the session, which ends them early once a stop is asked.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "device/notify.h"

namespace tavrik {

class CCCDev;

// Sent for every change of a job's state: wParam = (job id << 8) | device index, lParam
// = (state << 24) | (percent << 16) | steps done (16 bits). Outside the range the windows
// use for their own codes.
inline constexpr uint32_t UM_JOB_STATE = kWmUser + 0x40;

enum class JobState : uint8_t {
    Queued = 0,
    Started = 1,
    Progress = 2,
    Done = 3,
    Failed = 4,
    Cancelled = 5,
};

constexpr bool IsFinished(JobState s) {
    return s == JobState::Done || s == JobState::Failed || s == JobState::Cancelled;
}

// Result code of a job that was cancelled or stopped before it finished.
inline constexpr int kJobCancelled = -1000;
// Job ids run 1..kJobIdMask and then start again at 1; they travel in 24 bits.
inline constexpr uint32_t kJobIdMask = 0xFFFFFF;

constexpr uint32_t PackJobWParam(uint32_t id, int dev) {
    return (id & kJobIdMask) << 8 | static_cast<uint32_t>(dev & 0xFF);
}
constexpr uint32_t PackJobLParam(JobState state, int percent, int done) {
    const uint32_t p = percent < 0 ? 0 : percent > 100 ? 100 : static_cast<uint32_t>(percent);
    return static_cast<uint32_t>(state) << 24 | p << 16 | (static_cast<uint32_t>(done) & 0xFFFF);
}
constexpr uint32_t JobIdOf(uint32_t wParam) {
    return wParam >> 8;
}
constexpr JobState JobStateOf(uint32_t lParam) {
    return static_cast<JobState>(lParam >> 24);
}
constexpr int JobPercentOf(uint32_t lParam) {
    return static_cast<int>(lParam >> 16 & 0xFF);
}

struct JobResult {
    int code = 0;  // 0 success, negative the operation's error
    std::string message;
    bool cancelled = false;

    static JobResult Ok(std::string message = {}) { return {0, std::move(message), false}; }
    static JobResult Error(int code, std::string message) {
        return {code, std::move(message), false};
    }
    static JobResult Cancelled(std::string message = "cancelled") {
        return {kJobCancelled, std::move(message), true};
    }
};

struct JobStatus {
    uint32_t id = 0;
    std::string name;
    JobState state = JobState::Queued;
    int done = 0;  // steps done of `total`; total 0 when the job reports a percent only
    int total = 0;
    int percent = 0;
    bool cancelRequested = false;
    int result = 0;
    std::string message;
    bool Finished() const { return IsFinished(state); }
};

// What a running job sees of its runner.
class JobContext {
public:
    CCCDev& Dev() const { return dev_; }
    uint32_t Id() const { return id_; }

    // `done` of `total` steps; the percent follows.
    void Progress(int done, int total);
    void Percent(int percent);

    // True once a cancel was asked or the session is closing. A job looks at it where it
    // can stop without leaving the keyboard half changed.
    bool Cancelled() const { return cancel_.load() || stop_.load(); }
    bool CancelRequested() const { return cancel_.load(); }
    // The session is closing: the job must end as soon as it can.
    bool Stopping() const { return stop_.load(); }

    // A fixed pause through the session clock; false when it ended early for a stop.
    bool Pause(int ms) const;
    // Real time, not scaled by the clock; false when it ended early for a stop.
    bool Idle(std::chrono::milliseconds span) const;
    // Looks at `pred` every `stepMs` of real time, up to `limit`; false on the limit or a
    // stop.
    bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit,
                 int stepMs = 10) const;

private:
    friend class JobRunner;
    JobContext(class JobRunner& runner, CCCDev& dev, uint32_t id, const std::atomic<bool>& cancel,
               const std::atomic<bool>& stop)
        : runner_(runner), dev_(dev), id_(id), cancel_(cancel), stop_(stop) {}

    JobRunner& runner_;
    CCCDev& dev_;
    uint32_t id_;
    const std::atomic<bool>& cancel_;
    const std::atomic<bool>& stop_;
};

using JobFn = std::function<JobResult(JobContext&)>;

class JobRunner {
public:
    explicit JobRunner(CCCDev& dev);
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // Queues `fn` and returns its id at once. While the runner shuts down the job is
    // cancelled straight away (its id is still valid for Status).
    uint32_t Submit(std::string name, JobFn fn);
    // Nothing for an id never given or long forgotten (the last 256 finished jobs stay).
    std::optional<JobStatus> Status(uint32_t id) const;
    // A queued job is dropped; a running one is asked to stop at its next safe point.
    // False when the job is unknown or already finished.
    bool Cancel(uint32_t id);
    // Blocks up to `limit` for the job to finish; returns its status then (finished or
    // not), nothing for an unknown id. On the session's owner thread it delivers the
    // session's notifications meanwhile.
    std::optional<JobStatus> Wait(uint32_t id, std::chrono::milliseconds limit);
    // Jobs queued or running.
    int Pending() const;

    // Cancels the queued jobs, stops the running one and joins the worker. A later Submit
    // starts a new worker.
    void Shutdown();

private:
    friend class JobContext;
    struct Job {
        JobStatus status;
        JobFn fn;
        std::atomic<bool> cancel{false};
    };

    void WorkerLoop();
    void Run(const std::shared_ptr<Job>& job);
    void ReportProgress(uint32_t id, int done, int total, int percent);
    void Announce(const JobStatus& s);
    // Marks a job that never ran as cancelled and returns its status; mutex_ held.
    JobStatus CancelLocked(Job& job, const char* message);
    void Forget();  // drops the oldest finished records; mutex_ held

    CCCDev& dev_;
    std::mutex shutdownLock_;  // one Shutdown at a time
    mutable std::mutex mutex_;
    std::condition_variable changed_;  // any state change; the worker's wake-up too
    std::map<uint32_t, std::shared_ptr<Job>> jobs_;
    std::deque<uint32_t> queue_;
    std::deque<uint32_t> finished_;
    uint32_t nextId_ = 1;
    uint32_t running_ = 0;
    bool shuttingDown_ = false;
    std::atomic<bool> stop_{false};
    std::thread worker_;
    std::thread::id workerId_{};
};

// True on a job's worker thread while its runner is stopping: the session's pauses end
// early then.
bool JobStopRequestedOnThisThread();

}  // namespace tavrik
