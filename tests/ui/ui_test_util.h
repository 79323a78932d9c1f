// Helpers for the headless window tests: a window that records what its controls send,
// mouse hover without a real pointer, and answers for the boxes a person would close.
#pragma once

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QKeyEvent>
#include <QWidget>
#include <deque>
#include <optional>
#include <vector>

#include "ui/widgets/notify_sink.h"
#include "ui/widgets/ui_prompts.h"

namespace tavrik::ui::test {

struct Call {
    uint32_t code;
    uint32_t wParam;
    int32_t lParam;
    bool operator==(const Call&) const = default;
};

struct Recorder : QWidget, NotifySink {
    std::vector<Call> calls;
    int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) override {
        calls.push_back({code, wParam, lParam});
        return 0;
    }
};

inline void Hover(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QEnterEvent event(at, w->mapTo(w->window(), at), w->mapToGlobal(at));
    QApplication::sendEvent(w, &event);
}

inline void Leave(QWidget* w) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(w, &event);
}

// A key pressed and released as the X server sends it: Linux input code + 8 as the
// native scan code, which is what the picker and the macro editor read.
inline void PressNativeKey(QWidget* to, quint32 inputCode, Qt::Key key = Qt::Key_unknown) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, inputCode + 8, 0, 0);
    QApplication::sendEvent(to, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, inputCode + 8, 0, 0);
    QApplication::sendEvent(to, &up);
}

inline QColor PixelAt(QWidget* w, int x, int y) {
    return w->grab().toImage().pixelColor(x, y);
}

// Answers every message box, question and colour chooser while it lives and counts them.
struct PromptAnswers {
    std::vector<QString> messages;
    std::optional<QColor> color;
    bool yes = true;
    int colorAsked = 0;
    QColor colorInitial;
    std::vector<QString> opened;
    std::deque<int> numbers;  // answers of the number input, in order; -1 once used up
    std::vector<QString> numberPrompts;
    std::deque<QString> files;          // answers of the file chooser; empty (cancel) once used up
    std::deque<QString> firmwareFiles;  // answers of the firmware chooser, the same way
    std::vector<QString> questions;
    PromptAnswers() {
        UiPrompts::SetNumberHook([this](QWidget*, const QString&, const QString& prompt) {
            numberPrompts.push_back(prompt);
            const int n = numbers.empty() ? -1 : numbers.front();
            if (!numbers.empty()) {
                numbers.pop_front();
            }
            return n;
        });
        UiPrompts::SetFileHook([this](QWidget*, bool) {
            const QString f = files.empty() ? QString() : files.front();
            if (!files.empty()) {
                files.pop_front();
            }
            return f;
        });
        UiPrompts::SetFirmwareFileHook([this](QWidget*) {
            const QString f = firmwareFiles.empty() ? QString() : firmwareFiles.front();
            if (!firmwareFiles.empty()) {
                firmwareFiles.pop_front();
            }
            return f;
        });
        UiPrompts::SetMessageHook([this](QWidget*, const QString& t) { messages.push_back(t); });
        UiPrompts::SetQuestionHook([this](QWidget*, const QString& q) {
            questions.push_back(q);
            return yes;
        });
        UiPrompts::SetColorHook([this](QWidget*, const QColor& initial) {
            ++colorAsked;
            colorInitial = initial;
            return color;
        });
        UiPrompts::SetUrlHook([this](const QString& a) { opened.push_back(a); });
    }
    ~PromptAnswers() {
        UiPrompts::SetMessageHook({});
        UiPrompts::SetQuestionHook({});
        UiPrompts::SetColorHook({});
        UiPrompts::SetUrlHook({});
        UiPrompts::SetNumberHook({});
        UiPrompts::SetFileHook({});
        UiPrompts::SetFirmwareFileHook({});
    }
    PromptAnswers(const PromptAnswers&) = delete;
    PromptAnswers& operator=(const PromptAnswers&) = delete;
};

}  // namespace tavrik::ui::test
