#include "update/update_log.h"

#include <glog/logging.h>

#include <cstdarg>
#include <cstdio>

namespace tavrik {

void UpdateLogAt(int line, const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    google::LogMessage("TavrikDlg", line).stream() << text;
}

}  // namespace tavrik
