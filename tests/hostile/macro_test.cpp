// Macro files that `macro make` would never write: read, shown and refused by the
// command line before anything reaches a key.
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostile.h"
#include "macro/marco_file.h"
#include "sim/sim_file.h"

namespace tavrik::hostile {
namespace {

using std::chrono::seconds;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string FileOf(const std::vector<MarcoEntry>& list) {
    MarcoRecord rec;
    rec.flag = 1;
    std::copy(list.begin(), list.end(), rec.entries.begin());
    const MarcoFileBytes bytes = SerializeMarcoRecord(rec);
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(HostileMacro, AMacroThatBreaksARuleIsShownWithItAndNeverSent) {
    Sandbox box;
    ASSERT_EQ(box.Ctl({"sim", "init", box.SimFile().string()}, seconds(60), false).status, 0);
    constexpr uint8_t A = 0x04;
    const struct {
        const char* name;
        std::vector<MarcoEntry> entries;
        const char* rule;
    } files[] = {
        {"endless.tvm",
         {{MarcoFlag::KeyDown, A, 10},
          {MarcoFlag::LoopStart, 0, 10},
          {MarcoFlag::KeyUp, A, 10},
          {MarcoFlag::LoopEnd, 2, 10}},
         "step 2 (Macro Loop Start (Infinite)): A loop count must lie between 2 and 250."},
        {"flag80.tvm",
         {{MarcoFlag::KeyDown, A, 10}, {0x80, A, 10}},
         "step 2 (Flag 80 kv 04): This step is not one a macro can hold"},
        {"held.tvm",
         {{MarcoFlag::KeyDown, A, 65535}, {MarcoFlag::KeyUp, A, 10}},
         "step 1 (\u2193  A ): A delay may be at most 60000 ms."},
        {"nodown.tvm",
         {{MarcoFlag::WaitKeyUp, kMarcoComboSeparatorKv, 10}, {MarcoFlag::KeyUp, A, 10}},
         "A Combination macro needs at least one key-down step."},
    };
    for (const auto& f : files) {
        box.WriteFile(f.name, FileOf(f.entries));
        const FileFacts sim = Facts(box.SimFile());
        CtlRun r = box.Ctl({"macro", "write", "0", f.name});
        EXPECT_EQ(r.status, 2) << f.name << ": " << r.err;
        EXPECT_TRUE(Has(r.err, std::string("tavrikctl macro write: ") + f.name + ": " + f.rule))
            << r.err;
        EXPECT_TRUE(Has(r.err, "Nothing was sent.")) << r.err;
        EXPECT_EQ(Facts(box.SimFile()), sim) << f.name;

        // Shown as it is, with the rule, and the status says it is not a macro to use.
        r = box.Ctl({"macro", "show", f.name}, seconds(30), false);
        EXPECT_EQ(r.status, 2) << f.name;
        EXPECT_TRUE(Has(r.out, "Mode: ")) << r.out;
        EXPECT_TRUE(Has(r.err, f.rule)) << r.err;
    }
}

// Ctrl+C or SIGTERM while a macro is being written: the write is finished, never left
// half-done (a part can leave a key held down), and the status says the run was stopped.
TEST(HostileMacro, AStopSignalDuringAWriteNeverLeavesHalfAMacro) {
    Sandbox box;
    ASSERT_EQ(box.Ctl({"sim", "init", box.SimFile().string()}, seconds(60), false).status, 0);
    std::vector<size_t> keys;
    ASSERT_EQ(sim::EditSimFile(box.SimFile(),
                               [&](std::vector<sim::SimFileKeyboard>& k, std::string*) {
                                   for (size_t s = 0; s < kKeySlots && keys.size() < 2; ++s) {
                                       const auto& m = k[0].state.modules[s];
                                       if (m && m->stage == 'A' && m->hid[0] != 0) {
                                           keys.push_back(s);
                                       }
                                   }
                                   return true;
                               }),
              sim::SimFileError::None);
    ASSERT_EQ(keys.size(), 2u);
    std::vector<std::string> make = {"macro", "make", "--mode", "SingleShot", "-o", "m.tvm"};
    for (const char* k : {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K"}) {
        make.push_back(std::string("tap:") + k);
    }
    ASSERT_EQ(box.Ctl(make, seconds(30), false).status, 0);
    const MarcoFileResult file = LoadMarcoFile(box / "m.tvm");
    ASSERT_EQ(file.status, MarcoFileStatus::Ok);

    auto macroOf = [&](size_t slot) {
        std::vector<sim::SimFileKeyboard> kb;
        EXPECT_EQ(sim::ReadSimFile(box.SimFile(), kb), sim::SimFileError::None);
        return kb.at(0).state.modules[slot]->marco;
    };
    for (size_t k = 0; k < keys.size(); ++k) {
        const int signo = k == 0 ? SIGINT : SIGTERM;
        // The signal comes once the first entry went out (the verbose log says so).
        box.SignalNextWhen(signo, "Write Marco: 0:");
        const CtlRun r = box.Ctl({"-v", "macro", "write", std::to_string(keys[k]), "m.tvm"});
        if (r.status != 0) {  // else the write had ended before the signal came
            EXPECT_EQ(r.status, 128 + signo);
            EXPECT_TRUE(Has(r.err, "after the macro was written whole"));
        }
        const sim::SimMarco held = macroOf(keys[k]);
        for (size_t i = 0; i <= 22; ++i) {
            EXPECT_EQ(held[i].flag, file.record.entries[i].flag) << "entry " << i;
            EXPECT_EQ(held[i].kv, file.record.entries[i].kv) << "entry " << i;
        }
    }
}

}  // namespace
}  // namespace tavrik::hostile
