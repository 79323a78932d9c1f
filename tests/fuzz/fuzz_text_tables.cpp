// Text table bytes through the four text fetches.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/paths.h"
#include "app/profile_ini.h"
#include "app/texts.h"
#include "fuzz_require.h"

namespace {

using tavrik::fuzz::Require;

using namespace tavrik;

std::filesystem::path TableFile() {
    static const std::filesystem::path file = [] {
        char name[] = "/tmp/tavrik-fuzz-texts-XXXXXX";
        Require(::mkdtemp(name) != nullptr);
        SetResourceRoot(name);
        const std::filesystem::path f = TextTableFile("en");
        std::filesystem::create_directories(f.parent_path());
        return f;
    }();
    return file;
}

void Check(const std::string& text, const char* section, const std::string& key,
           const std::string& got) {
    Require(CutProfileText(got) == got);
    Require(got == ProfileStringFromText(text, section, key, ""));
    Require(!got.empty() || !ProfileRawValue(text, section, key) ||
            ProfileRawValue(text, section, key)->size() <= 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path file = TableFile();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;

    // The shipped keys, and one taken from the input so that found keys are exercised too.
    std::string own = text.substr(0, text.find_first_of("=\r\n"));
    for (const std::string& key : {std::string("scanresult"), std::string("LayerName"), own}) {
        Check(text, "PromptInfo", key, GetPromptText(key, "en"));
        Check(text, "SetupPromptInfo", key, GetSetupPromptText(key, "en"));
        Check(text, "ButtonStr", key, GetButtonText(key, "en"));
        Check(text, "TaskBar", key, GetTaskBarText(key, "en"));
    }
    return 0;
}
