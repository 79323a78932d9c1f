// The program's reverse-DNS id: the desktop file, the icon and the window all carry it.
#pragma once

namespace tavrik {

inline constexpr const char* kAppId = "org.tavrik.Tavrik";

}  // namespace tavrik
