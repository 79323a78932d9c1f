// The layout on paper, as data: every key slot where the window's view shows it, with
// what each layer's key does in words and the key's LED colour. Front ends build it from
// a keyboard's state; the renderer (src/paper) only draws it, so the words and places are
// the same on every format.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backup/keyboard_state.h"

namespace tavrik::layout {

inline constexpr int kColumns = 9;
inline constexpr int kRowsPerPage = 5;
inline constexpr int kSlotsPerViewPage = kColumns * kRowsPerPage;
inline constexpr int kSlots = 2 * kSlotsPerViewPage;

enum class SlotKind { Empty, Module, Bootloader };

struct SheetKey {
    int slot = 0;
    int row = 0;     // 0..9: the view's second page continues below its first
    int column = 0;  // 0..8
    SlotKind kind = SlotKind::Empty;
    // Per layer, one to two lines: what the key sends or does ("A"; "LT2", "Layer 2 while
    // held"; "Macro: 8 steps"). None for an empty socket.
    std::array<std::vector<std::string>, 4> legend;
    std::optional<uint32_t> colour;  // 0x00BBGGRR; none when the key takes no colour
};

struct LayoutSheet {
    std::string keyboard;  // the header's name of the keyboard
    std::string date;      // as the header shows it
    std::vector<int> layers;
    std::vector<SheetKey> keys;  // in slot order
    int rows = 2 * kRowsPerPage;
};

// What one layer's HID value of a key says on paper. `macroSteps` < 0: the macro could
// not be read.
std::vector<std::string> LegendOf(uint8_t hid, int macroSteps);

// The sheet of `state` for `layers` (0..3, in the order given). `viewPages`: 1 when the
// keyboard's view has one page of keys, else 2.
LayoutSheet MakeSheet(const backup::KeyboardState& state, std::vector<int> layers,
                      std::string keyboard, std::string date, int viewPages = 2);

enum class PaperFormat { Pdf, Svg, Png };
enum class PaperSize { A4, Letter };

struct PaperOptions {
    PaperFormat format = PaperFormat::Pdf;
    PaperSize paper = PaperSize::A4;  // PDF only: landscape
    int scale = 1;                    // PNG only: 1 or 2 pixels per unit
};

// The format a file name asks for by its extension (".pdf", ".svg", ".png", any case).
std::optional<PaperFormat> FormatOfPath(const std::string& path);
std::optional<PaperFormat> FormatOfName(const std::string& word);  // "pdf", "svg", "png"

// Writes a rendered sheet atomically; only a regular file (or nothing yet) is replaced,
// never a folder, a device or a FIFO. False with `error` when it cannot.
bool WriteSheetFile(const std::string& path, const std::string& bytes, std::string& error);

// "0,1,3" into layers; false with `error` for anything but distinct numbers 0..3.
bool ParseLayers(const std::string& text, std::vector<int>& out, std::string& error);

}  // namespace tavrik::layout
