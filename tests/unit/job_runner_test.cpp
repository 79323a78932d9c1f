// The job runner of a session without a keyboard: order, the notifications a window
// sees, cancelling, waiting on the window's own thread, and closing with work pending.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "device/job_runner.h"
#include "device/session.h"
#include "notify_recorder.h"
#include "session_test_access.h"

namespace tavrik {
namespace {

using namespace std::chrono_literals;

int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) {
            n += e->d_name[0] != '.' ? 1 : 0;
        }
        closedir(d);
    }
    return n;
}

// The job states a window saw for job `id`, in order.
std::vector<JobState> StatesOf(const test::NotifyRecorder& rec, uint32_t id) {
    std::vector<JobState> out;
    for (const auto& n : rec.Of(UM_JOB_STATE)) {
        if (JobIdOf(n.wParam) == id) {
            out.push_back(JobStateOf(n.lParam));
        }
    }
    return out;
}

TEST(JobRunner, RunsInOrderAndAWindowSeesEveryState) {
    test::NotifyRecorder rec;
    CCCDev dev(2, &rec);
    std::mutex lock;
    std::vector<int> ran;
    std::vector<uint32_t> ids;
    for (int i = 0; i < 3; ++i) {
        ids.push_back(dev.Jobs().Submit("step " + std::to_string(i), [&, i](JobContext& ctx) {
            for (int n = 1; n <= 4; ++n) {
                ctx.Progress(n, 4);
            }
            std::lock_guard g(lock);
            ran.push_back(i);
            return JobResult::Ok("fine");
        }));
    }
    const auto last = dev.Jobs().Wait(ids[2], 30s);
    ASSERT_TRUE(last && last->Finished());
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));

    const auto s = *dev.Jobs().Status(ids[1]);
    EXPECT_EQ(s.name, "step 1");
    EXPECT_EQ(s.state, JobState::Done);
    EXPECT_EQ(s.done, 4);
    EXPECT_EQ(s.total, 4);
    EXPECT_EQ(s.percent, 100);
    EXPECT_EQ(s.message, "fine");
    EXPECT_EQ(StatesOf(rec, ids[1]),
              (std::vector<JobState>{JobState::Queued, JobState::Started, JobState::Progress,
                                     JobState::Progress, JobState::Progress, JobState::Progress,
                                     JobState::Done}));
    for (const auto& n : rec.Of(UM_JOB_STATE)) {
        EXPECT_EQ(n.wParam & 0xFF, 2u);  // the device index, as every device notification
    }
    // The second progress step of job 1 is 2 of 4: 50 %, two steps.
    const auto notes = rec.Of(UM_JOB_STATE);
    const auto half = std::find_if(notes.begin(), notes.end(), [&](const test::Note& n) {
        return JobIdOf(n.wParam) == ids[1] && JobStateOf(n.lParam) == JobState::Progress &&
               (n.lParam & 0xFFFF) == 2;
    });
    ASSERT_NE(half, notes.end());
    EXPECT_EQ(JobPercentOf(half->lParam), 50);
    EXPECT_EQ(dev.Jobs().Pending(), 0);
}

TEST(JobRunner, FailuresAndThrowsEndTheJobNotTheRunner) {
    test::NotifyRecorder rec;
    CCCDev dev(0, &rec);
    const uint32_t failing = dev.Jobs().Submit(
        "fails", [](JobContext&) { return JobResult::Error(-4, "wrong answer"); });
    const uint32_t throwing = dev.Jobs().Submit(
        "throws", [](JobContext&) -> JobResult { throw std::runtime_error("boom"); });
    const uint32_t after = dev.Jobs().Submit("after", [](JobContext&) { return JobResult::Ok(); });

    const auto a = dev.Jobs().Wait(after, 30s);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->state, JobState::Done);
    const auto f = *dev.Jobs().Status(failing);
    EXPECT_EQ(f.state, JobState::Failed);
    EXPECT_EQ(f.result, -4);
    EXPECT_EQ(f.message, "wrong answer");
    const auto t = *dev.Jobs().Status(throwing);
    EXPECT_EQ(t.state, JobState::Failed);
    EXPECT_NE(t.message.find("boom"), std::string::npos);
    EXPECT_EQ(StatesOf(rec, failing).back(), JobState::Failed);

    EXPECT_FALSE(dev.Jobs().Status(9999));
    EXPECT_FALSE(dev.Jobs().Wait(9999, 10ms));
    EXPECT_FALSE(dev.Jobs().Cancel(9999));
    EXPECT_FALSE(dev.Jobs().Cancel(after));  // finished already
}

TEST(JobRunner, CancelDropsAQueuedJobAndAsksARunningOne) {
    test::NotifyRecorder rec;
    CCCDev dev(0, &rec);
    std::atomic<bool> queuedRan{false};
    std::atomic<bool> entered{false};
    const uint32_t running = dev.Jobs().Submit("running", [&](JobContext& ctx) {
        entered = true;
        ctx.WaitFor([&] { return ctx.Cancelled(); }, 60s, 1);
        return ctx.Cancelled() ? JobResult::Cancelled("stopped between steps") : JobResult::Ok();
    });
    const uint32_t queued = dev.Jobs().Submit("queued", [&](JobContext&) {
        queuedRan = true;
        return JobResult::Ok();
    });
    ASSERT_TRUE(dev.Jobs().Cancel(queued));
    EXPECT_EQ(dev.Jobs().Status(queued)->state, JobState::Cancelled);
    EXPECT_EQ(dev.Jobs().Status(queued)->result, kJobCancelled);

    for (int i = 0; i < 30000 && !entered; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(dev.Jobs().Cancel(running));
    const auto r = dev.Jobs().Wait(running, 30s);
    ASSERT_TRUE(r && r->Finished());
    EXPECT_EQ(r->state, JobState::Cancelled);
    EXPECT_TRUE(r->cancelRequested);
    EXPECT_EQ(r->message, "stopped between steps");

    // The runner goes on after both.
    const uint32_t next = dev.Jobs().Submit("next", [](JobContext&) { return JobResult::Ok(); });
    EXPECT_EQ(dev.Jobs().Wait(next, 30s)->state, JobState::Done);
    EXPECT_FALSE(queuedRan);
    EXPECT_EQ(StatesOf(rec, queued),
              (std::vector<JobState>{JobState::Queued, JobState::Cancelled}));
}

// With a window thread the worker's notifications wait for that thread; a wait there must
// hand them over, or the job could never end.
TEST(JobRunner, WaitingOnTheWindowThreadDeliversTheJobsNotifications) {
    test::NotifyRecorder rec;
    CCCDev dev(0, &rec);
    dev.Channel().SetOwnerThread({});
    const uint32_t id = dev.Jobs().Submit("chatty", [](JobContext& ctx) {
        for (int n = 1; n <= 20; ++n) {
            ctx.Progress(n, 20);
        }
        return JobResult::Ok();
    });
    const auto s = dev.Jobs().Wait(id, 60s);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->state, JobState::Done);
    // The last one may still be on its way to this thread.
    for (int i = 0; i < 30000 && StatesOf(rec, id).size() < 23; ++i) {
        dev.Channel().DeliverPending();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(StatesOf(rec, id).size(), 23u);  // queued, started, 20 steps, done
}

TEST(JobRunner, ClosingWithOneRunningAndTwoQueuedEndsThemAllAndLeavesNoThread) {
    test::NotifyRecorder rec;
    CCCDev dev(0, &rec);
    // Some runtimes (ThreadSanitizer) start a helper thread at the first thread creation;
    // let that happen before counting.
    std::thread([] {}).join();
    const int threadsBefore = ThreadCount();
    // A pause inside a session operation, with no stop flag of its own: the close must
    // still end it.
    std::atomic<bool> entered{false};
    const uint32_t running = dev.Jobs().Submit("long pause", [&](JobContext& ctx) {
        entered = true;
        SessionTestAccess::Pause(ctx.Dev(), 600000);
        return ctx.Stopping() ? JobResult::Cancelled("stopped") : JobResult::Ok();
    });
    const uint32_t q1 = dev.Jobs().Submit("q1", [](JobContext&) { return JobResult::Ok(); });
    const uint32_t q2 = dev.Jobs().Submit("q2", [](JobContext&) { return JobResult::Ok(); });
    for (int i = 0; i < 30000 && !entered; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(entered);

    {
        auto closed = std::async(std::launch::async, [&] { return dev.Close(); });
        ASSERT_EQ(closed.wait_for(60s), std::future_status::ready);
    }  // the future's end joins the thread that closed
    EXPECT_EQ(dev.Jobs().Status(running)->state, JobState::Cancelled);
    EXPECT_EQ(dev.Jobs().Status(q1)->state, JobState::Cancelled);
    EXPECT_EQ(dev.Jobs().Status(q2)->state, JobState::Cancelled);
    EXPECT_EQ(dev.Jobs().Pending(), 0);
    // A joined thread may still be listed for a moment.
    for (int i = 0; i < 5000 && ThreadCount() != threadsBefore; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);

    // The slot is used again after a close: new jobs run.
    const uint32_t again = dev.Jobs().Submit("again", [](JobContext&) { return JobResult::Ok(); });
    EXPECT_EQ(dev.Jobs().Wait(again, 30s)->state, JobState::Done);
}

TEST(JobRunner, ClosingFromInsideAJobDropsTheRestWithoutWaitingForItself) {
    test::NotifyRecorder rec;
    CCCDev dev(0, &rec);
    std::atomic<bool> submitted{false};
    const uint32_t closer = dev.Jobs().Submit("closer", [&](JobContext& ctx) {
        ctx.WaitFor([&] { return submitted.load(); }, 60s, 1);
        ctx.Dev().Jobs().Shutdown();
        return JobResult::Ok();
    });
    const uint32_t behind =
        dev.Jobs().Submit("behind", [](JobContext&) { return JobResult::Ok(); });
    submitted = true;
    EXPECT_EQ(dev.Jobs().Wait(closer, 30s)->state, JobState::Done);
    EXPECT_EQ(dev.Jobs().Status(behind)->state, JobState::Cancelled);
    const uint32_t next = dev.Jobs().Submit("next", [](JobContext&) { return JobResult::Ok(); });
    EXPECT_EQ(dev.Jobs().Wait(next, 30s)->state, JobState::Done);
}

TEST(JobRunner, NotificationPackingKeepsItsFields) {
    const uint32_t w = PackJobWParam(0x123456, 3);
    EXPECT_EQ(JobIdOf(w), 0x123456u);
    EXPECT_EQ(w & 0xFF, 3u);
    const uint32_t l = PackJobLParam(JobState::Failed, 250, 0x1FFFF);
    EXPECT_EQ(JobStateOf(l), JobState::Failed);
    EXPECT_EQ(JobPercentOf(l), 100);  // held to 0..100
    EXPECT_EQ(l & 0xFFFF, 0xFFFFu);
    EXPECT_EQ(JobPercentOf(PackJobLParam(JobState::Progress, -5, 0)), 0);
    EXPECT_GT(UM_JOB_STATE, kWmUser + 0x30);
}

}  // namespace
}  // namespace tavrik
