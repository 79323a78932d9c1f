#include "app/app_globals.h"

namespace tavrik {

std::string g_strLanguage = "zh-cn";
std::atomic<int> g_nLanguage{0};
std::atomic<int> g_bAppExit{0};

}  // namespace tavrik
