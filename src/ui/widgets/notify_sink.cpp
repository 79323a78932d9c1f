#include "ui/widgets/notify_sink.h"

#include <QWidget>

namespace tavrik::ui {

NotifySink* FindSink(QWidget* from) {
    for (QWidget* w = from ? from->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (auto* sink = dynamic_cast<NotifySink*>(w)) {
            return sink;
        }
    }
    return nullptr;
}

int SendToOwner(QWidget* from, uint32_t code, uint32_t wParam, int32_t lParam) {
    NotifySink* sink = FindSink(from);
    return sink ? sink->OnNotify(code, wParam, lParam) : 0;
}

}  // namespace tavrik::ui
