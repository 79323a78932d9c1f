// Values the whole application shares.
#pragma once

#include <atomic>
#include <string>

namespace tavrik {

// The language code of the text tables, "zh-cn" or "en": set at start-up (and by the
// language question of the first run) before any other thread starts, then only read.
extern std::string g_strLanguage;
// 1 = Chinese, 2 = English, 0 = not settled yet.
extern std::atomic<int> g_nLanguage;
// Set to 1 when the main window closes; only ever goes from 0 to 1. Worker loops end on it
// and the main window's log helpers stop writing.
extern std::atomic<int> g_bAppExit;

}  // namespace tavrik
