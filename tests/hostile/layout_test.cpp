// tavrikctl layout as a script runs it: no display, the renderer loaded beside the program,
// and outputs that are not ours left alone.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "hostile.h"

namespace tavrik::hostile {
namespace {

#ifdef TAVRIK_HAS_PAPER

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(HostileLayout, WritesEachFormatWithoutADisplayAndRefusesWhatIsNotAFile) {
    Sandbox box;
    box.SetEnv("DISPLAY=");
    box.SetEnv("WAYLAND_DISPLAY=");
    box.SetEnv("TAVRIK_SIM_PAUSE_SCALE=0.05");
    ASSERT_EQ(box.Ctl({"sim", "init", box.SimFile().string(), "--keys", "12"},
                      std::chrono::seconds(60), false)
                  .status,
              0);
    const CtlRun pdf = box.Ctl({"layout", "--layers", "0,2", "-o", "keys.pdf"});
    ASSERT_EQ(pdf.status, 0) << pdf.err;
    const std::string bytes = box.ReadFile("keys.pdf");
    EXPECT_EQ(bytes.rfind("%PDF-", 0), 0u);
    EXPECT_EQ(
        Count(bytes, "/Type /Page\n") + Count(bytes, "/Type /Page ") + Count(bytes, "/Type /Page/"),
        2)
        << "one page per layer";
    const CtlRun svg = box.Ctl({"layout", "--format", "svg", "-o", "keys.out"});
    ASSERT_EQ(svg.status, 0) << svg.err;
    EXPECT_NE(box.ReadFile("keys.out").find("<svg"), std::string::npos);
    const CtlRun png = box.Ctl({"layout", "--scale", "2", "--layers", "1", "-o", "keys.png"});
    ASSERT_EQ(png.status, 0) << png.err;
    EXPECT_EQ(box.ReadFile("keys.png").substr(1, 3), "PNG");

    // A FIFO and a folder are not replaced, and the command says it failed.
    ASSERT_EQ(::mkfifo((box / "pipe").c_str(), 0600), 0);
    std::filesystem::create_directory(box / "folder");
    for (const char* target : {"pipe", "folder"}) {
        const FileFacts before = Facts(box / target);
        const CtlRun r = box.Ctl({"layout", "-o", target}, std::chrono::seconds(60));
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_NE(r.err.find(target), std::string::npos) << r.err;
        EXPECT_EQ(Facts(box / target), before) << target;
    }
    const CtlRun missing = box.Ctl({"layout", "-o", "no/such/folder/keys.pdf"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(missing.err.empty());

    const CtlRun usage = box.Ctl({"layout", "--layers", "0,4", "-o", "x.pdf"});
    EXPECT_EQ(usage.status, 64);
    EXPECT_FALSE(std::filesystem::exists(box / "x.pdf"));
}

#endif

}  // namespace
}  // namespace tavrik::hostile
