#include "cli/job_wait.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <string>

#include "device/session.h"
#include "platform/process.h"

namespace tavrik::cli {

namespace {

constexpr auto kSlice = std::chrono::milliseconds(50);
constexpr int kBarWidth = 40;

std::string Bar(int percent) {
    const int filled = std::clamp(percent, 0, 100) * kBarWidth / 100;
    return "\r[" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "] ";
}

// Prints what changed since the last call; `shown` is the percent or step last printed.
void Show(Context& ctx, bool terminal, JobProgress style, const JobStatus& s, int& shown) {
    if (style == JobProgress::None || s.state == JobState::Queued) {
        return;
    }
    if (style == JobProgress::Percent) {
        if (s.percent == shown) {
            return;
        }
        shown = s.percent;
        if (terminal) {
            ctx.out << Bar(s.percent) << s.percent << "%" << std::flush;
        } else {
            ctx.out << s.percent << "%\n" << std::flush;
        }
        return;
    }
    if (!terminal || s.total == 0 || s.done == shown) {
        return;
    }
    shown = s.done;
    ctx.out << Bar(s.percent) << s.done << "/" << s.total << std::flush;
}

}  // namespace

bool OutIsTerminal(const Context& ctx) {
    return &ctx.out == &std::cout && isatty(STDOUT_FILENO) != 0;
}

JobStatus WaitForJob(Context& ctx, CCCDev& dev, uint32_t id, JobProgress style,
                     std::chrono::milliseconds limit) {
    const bool terminal = OutIsTerminal(ctx);
    const auto until = std::chrono::steady_clock::now() + limit;
    JobRunner& jobs = dev.Jobs();
    int shown = -1;
    JobStatus last;
    last.id = id;
    while (true) {
        const auto status = jobs.Wait(id, kSlice);
        if (!status) {
            break;  // cannot happen for an id just given; nothing more to show
        }
        last = *status;
        if (last.Finished() && last.state != JobState::Done) {
            break;  // a failure prints no final progress
        }
        Show(ctx, terminal, style, last, shown);
        if (last.Finished()) {
            break;
        }
        if (std::chrono::steady_clock::now() >= until) {
            jobs.Cancel(id);
            break;
        }
    }
    if (terminal && shown >= 0) {
        ctx.out << "\n";
    }
    return last;
}

namespace {
volatile std::sig_atomic_t g_stopSignal = 0;

void NoteStopSignal(int signo) {
    g_stopSignal = signo;
}
}  // namespace

void DeferStopSignals(const Context& ctx) {
    if (&ctx.out != &std::cout) {
        return;
    }
    CatchStopSignals(NoteStopSignal);
}

int StopSignalNoted() {
    return g_stopSignal;
}

}  // namespace tavrik::cli
