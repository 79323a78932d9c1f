#include "device/job_runner.h"

#include <algorithm>

#include "device/session.h"
#include "log/log.h"

namespace tavrik {

#define JOB_LOG(...) TV_DEVLOG("CCDev", dev_.DevIdx(), __VA_ARGS__)

namespace {

constexpr size_t kFinishedKept = 256;
// How often a waiter on the owner thread looks for notifications to deliver.
constexpr auto kOwnerSlice = std::chrono::milliseconds(5);
// The idle worker looks at its stop flag at least this often.
constexpr auto kIdleSlice = std::chrono::milliseconds(200);

constexpr const char* kClosingText = "cancelled: the keyboard is being closed";

thread_local const std::atomic<bool>* t_stop = nullptr;

int PercentOf(int done, int total) {
    if (total <= 0) {
        return 0;
    }
    return static_cast<int>(std::clamp<long long>(100LL * done / total, 0, 100));
}

}  // namespace

bool JobStopRequestedOnThisThread() {
    return t_stop != nullptr && t_stop->load();
}

// ---------------------------------------------------------------- context

void JobContext::Progress(int done, int total) {
    runner_.ReportProgress(id_, done, total, PercentOf(done, total));
}

void JobContext::Percent(int percent) {
    runner_.ReportProgress(id_, 0, 0, std::clamp(percent, 0, 100));
}

bool JobContext::Pause(int ms) const {
    return dev_.Pause(ms, &stop_);
}

bool JobContext::Idle(std::chrono::milliseconds span) const {
    dev_.IdleWait(static_cast<int>(std::min<long long>(span.count(), 60000)), stop_);
    return !stop_.load();
}

bool JobContext::WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit,
                         int stepMs) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (stop_ || std::chrono::steady_clock::now() >= until) {
            return pred();
        }
        dev_.IdleWait(stepMs, stop_);
    }
    return true;
}

// ---------------------------------------------------------------- runner

JobRunner::JobRunner(CCCDev& dev) : dev_(dev) {}

JobRunner::~JobRunner() {
    Shutdown();
}

uint32_t JobRunner::Submit(std::string name, JobFn fn) {
    auto job = std::make_shared<Job>();
    job->fn = std::move(fn);
    JobStatus queued;
    {
        std::lock_guard lock(mutex_);
        while (jobs_.count(nextId_) != 0 || nextId_ == 0) {
            nextId_ = (nextId_ & kJobIdMask) + 1;
        }
        job->status.id = nextId_;
        job->status.name = std::move(name);
        nextId_ = (nextId_ & kJobIdMask) + 1;
        jobs_[job->status.id] = job;
        queued = job->status;
    }
    // Announced before the worker can take it, so a window never hears of a start first.
    Announce(queued);
    std::optional<JobStatus> dropped;
    {
        std::lock_guard lock(mutex_);
        if (job->status.state != JobState::Queued) {
            // Cancelled meanwhile.
        } else if (shuttingDown_) {
            dropped = CancelLocked(*job, kClosingText);
        } else {
            queue_.push_back(queued.id);
            if (!worker_.joinable()) {
                worker_ = std::thread([this] { WorkerLoop(); });
                workerId_ = worker_.get_id();
            }
        }
    }
    changed_.notify_all();
    if (dropped) {
        Announce(*dropped);
    }
    return queued.id;
}

std::optional<JobStatus> JobRunner::Status(uint32_t id) const {
    std::lock_guard lock(mutex_);
    const auto it = jobs_.find(id);
    if (it == jobs_.end()) {
        return std::nullopt;
    }
    return it->second->status;
}

int JobRunner::Pending() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(queue_.size()) + (running_ != 0 ? 1 : 0);
}

bool JobRunner::Cancel(uint32_t id) {
    JobStatus dropped;
    {
        std::lock_guard lock(mutex_);
        const auto it = jobs_.find(id);
        if (it == jobs_.end() || it->second->status.Finished()) {
            return false;
        }
        Job& job = *it->second;
        job.status.cancelRequested = true;
        job.cancel = true;
        if (job.status.state != JobState::Queued) {
            return true;  // the job stops at its next safe point, or says why it cannot
        }
        queue_.erase(std::remove(queue_.begin(), queue_.end(), id), queue_.end());
        dropped = CancelLocked(job, "cancelled before it started");
    }
    changed_.notify_all();
    Announce(dropped);
    return true;
}

std::optional<JobStatus> JobRunner::Wait(uint32_t id, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    const bool owner = dev_.Channel().IsOwnerThread();
    std::unique_lock lock(mutex_);
    while (true) {
        const auto it = jobs_.find(id);
        if (it == jobs_.end()) {
            return std::nullopt;
        }
        if (it->second->status.Finished() || std::chrono::steady_clock::now() >= until) {
            return it->second->status;
        }
        if (owner) {
            // The worker may be waiting for this very thread to take its notification.
            lock.unlock();
            dev_.Channel().DeliverPending();
            lock.lock();
            changed_.wait_for(lock, kOwnerSlice);
        } else {
            changed_.wait_until(lock, until);
        }
    }
}

void JobRunner::Shutdown() {
    // A job that closes its own session is the running job: only what is queued behind
    // it can go, and its worker keeps serving.
    bool fromJob = false;
    {
        std::lock_guard lock(mutex_);
        fromJob = std::this_thread::get_id() == workerId_;
    }
    std::unique_lock serial(shutdownLock_, std::defer_lock);
    if (!fromJob) {
        serial.lock();
    }
    std::vector<JobStatus> dropped;
    {
        std::lock_guard lock(mutex_);
        shuttingDown_ = !fromJob;
        for (const uint32_t id : queue_) {
            dropped.push_back(CancelLocked(*jobs_[id], kClosingText));
        }
        queue_.clear();
        stop_ = !fromJob && worker_.joinable();
    }
    changed_.notify_all();
    dev_.Poke();  // ends a pause the running job sits in
    for (const JobStatus& s : dropped) {
        Announce(s);
    }
    if (fromJob) {
        return;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    std::lock_guard lock(mutex_);
    workerId_ = {};
    stop_ = false;
    shuttingDown_ = false;
}

void JobRunner::WorkerLoop() {
    t_stop = &stop_;
    while (true) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            while (queue_.empty() && !stop_) {
                changed_.wait_for(lock, kIdleSlice);
            }
            if (stop_) {
                break;
            }
            job = jobs_[queue_.front()];
            queue_.pop_front();
            running_ = job->status.id;
            job->status.state = JobState::Started;
        }
        Run(job);
    }
    t_stop = nullptr;
}

void JobRunner::Run(const std::shared_ptr<Job>& job) {
    JobStatus started;
    {
        std::lock_guard lock(mutex_);
        started = job->status;
    }
    Announce(started);
    JOB_LOG("Job %u (%s) start", started.id, started.name.c_str());
    JobContext ctx(*this, dev_, started.id, job->cancel, stop_);
    JobResult result;
    try {
        result = job->fn(ctx);
    } catch (const std::exception& e) {
        // A job is a module boundary: whatever it throws ends it as a failure.
        result = JobResult::Error(-1, std::string("internal error: ") + e.what());
    }
    JobStatus ended;
    {
        std::lock_guard lock(mutex_);
        JobStatus& s = job->status;
        s.result = result.code;
        s.message = std::move(result.message);
        s.state = result.cancelled   ? JobState::Cancelled
                  : result.code == 0 ? JobState::Done
                                     : JobState::Failed;
        if (s.state == JobState::Done && s.total == 0) {
            s.percent = 100;
        }
        running_ = 0;
        finished_.push_back(s.id);
        Forget();
        ended = s;
    }
    changed_.notify_all();
    JOB_LOG("Job %u (%s) end: %d %s", ended.id, ended.name.c_str(), ended.result,
            ended.message.c_str());
    Announce(ended);
}

void JobRunner::ReportProgress(uint32_t id, int done, int total, int percent) {
    JobStatus s;
    {
        std::lock_guard lock(mutex_);
        const auto it = jobs_.find(id);
        if (it == jobs_.end()) {
            return;
        }
        JobStatus& cur = it->second->status;
        const bool same = cur.state == JobState::Progress && cur.done == done &&
                          cur.total == total && cur.percent == percent;
        cur.state = JobState::Progress;
        cur.done = done;
        cur.total = total;
        cur.percent = percent;
        if (same) {
            return;  // nothing new for the window
        }
        s = cur;
    }
    changed_.notify_all();
    Announce(s);
}

void JobRunner::Announce(const JobStatus& s) {
    dev_.Notify(UM_JOB_STATE, PackJobWParam(s.id, dev_.DevIdx()),
                PackJobLParam(s.state, s.percent, s.done));
}

JobStatus JobRunner::CancelLocked(Job& job, const char* message) {
    job.status.state = JobState::Cancelled;
    job.status.result = kJobCancelled;
    job.status.message = message;
    finished_.push_back(job.status.id);
    JobStatus copy = job.status;
    Forget();
    return copy;
}

void JobRunner::Forget() {
    while (finished_.size() > kFinishedKept) {
        jobs_.erase(finished_.front());
        finished_.pop_front();
    }
}

}  // namespace tavrik
