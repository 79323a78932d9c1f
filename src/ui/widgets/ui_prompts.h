// The few places where a control or a dialog hands the user a system window: message boxes,
// the colour chooser and opening a web address. Each goes through a replaceable hook, so
// that headless tests can answer them instead of a person (a modal box would never return).
#pragma once

#include <QColor>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace tavrik::ui {

class UiPrompts {
public:
    using MessageHook = std::function<void(QWidget* parent, const QString& text)>;
    using QuestionHook = std::function<bool(QWidget* parent, const QString& text)>;
    using ColorHook = std::function<std::optional<QColor>(QWidget* parent, const QColor& initial)>;
    using UrlHook = std::function<void(const QString& address)>;
    using NumberHook =
        std::function<int(QWidget* parent, const QString& label, const QString& prompt)>;
    using FileHook = std::function<QString(QWidget* parent, bool save)>;
    using FirmwareFileHook = std::function<QString(QWidget* parent)>;

    // A message with an OK button; returns when the user closed it.
    static void Message(QWidget* parent, const QString& text);
    // A question with Yes and No; true for Yes.
    static bool Question(QWidget* parent, const QString& text);
    // The colour chooser (CColorChooser), starting at `initial`: the full palette and the
    // colour the LED will show, which is what it returns; nullopt when cancelled.
    static std::optional<QColor> ChooseColor(QWidget* parent, const QColor& initial);
    // Opens a web address with the desktop's handler. Only http and https addresses are
    // opened (a link text from a file must not start a program); false for any other.
    static bool OpenLink(const QString& address);

    // The number input (up to five digits) with a unit label and a prompt line; an empty
    // text keeps its default. -1 when nothing usable was typed or it was cancelled.
    // `current` (when not negative) is filled in, selected.
    static int AskNumber(QWidget* parent, const QString& label = {}, const QString& prompt = {},
                         int current = -1);
    // The chooser of a macro file to save to or to load, named filter, opening in the
    // folder last used (the home folder at first); empty when cancelled.
    static QString ChooseMarcoFile(QWidget* parent, bool save);
    // The chooser of a firmware image file: in the folder last used, at first the home
    // folder; firmware images or all files. Empty when cancelled.
    static QString ChooseFirmwareFile(QWidget* parent);

    // An empty hook restores the real window.
    static void SetMessageHook(MessageHook hook);
    static void SetQuestionHook(QuestionHook hook);
    static void SetColorHook(ColorHook hook);
    static void SetUrlHook(UrlHook hook);
    static void SetNumberHook(NumberHook hook);
    static void SetFileHook(FileHook hook);
    static void SetFirmwareFileHook(FirmwareFileHook hook);
};

// The title of message boxes.
inline constexpr const char* kPromptTitle = "Tavrik";

}  // namespace tavrik::ui
