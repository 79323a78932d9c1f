#include "layout/layout_sheet.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "keys/keycodes.h"
#include "platform/atomic_file.h"

namespace tavrik::layout {

std::vector<std::string> LegendOf(uint8_t hid, int macroSteps) {
    if (hid == HID_MARCO) {
        if (macroSteps < 0) {
            return {"Macro", "(not read)"};
        }
        return {"Macro: " + std::to_string(macroSteps) + (macroSteps == 1 ? " step" : " steps")};
    }
    if (hid == HID_WAIT_UPGRADE) {
        return {"bootloader"};
    }
    if (IsLayerKeyHid(hid)) {
        const std::string name(HidKeyName(hid));
        const std::string layer = std::to_string(hid & 3);
        switch ((hid - HID_LAYER_FIRST) >> 2) {
            case 0:
                return {name, "To layer " + layer};
            case 1:
                return {name, "Layer " + layer + " while held"};
            case 3:
                return {name, "Key; layer " + layer + " while held"};
            default:
                return {"Layer key", std::to_string(hid)};
        }
    }
    if (KeyCodeOfReportedHid(hid) == VK_WAIT_SET) {
        return {"not set"};
    }
    return {std::string(HidKeyName(hid))};
}

LayoutSheet MakeSheet(const backup::KeyboardState& state, std::vector<int> layers,
                      std::string keyboard, std::string date, int viewPages) {
    LayoutSheet sheet;
    sheet.keyboard = std::move(keyboard);
    sheet.date = std::move(date);
    sheet.layers = std::move(layers);
    const int slots = viewPages == 1 ? kSlotsPerViewPage : kSlots;
    sheet.rows = slots / kColumns;
    for (int s = 0; s < slots; ++s) {
        SheetKey k;
        k.slot = s;
        k.row = s / kColumns;
        k.column = s % kColumns;
        sheet.keys.push_back(std::move(k));
    }
    for (const backup::ModuleState& m : state.modules) {
        if (m.slot < 0 || m.slot >= slots) {
            continue;
        }
        SheetKey& k = sheet.keys[static_cast<size_t>(m.slot)];
        if (m.stage == 'B') {
            k.kind = SlotKind::Bootloader;
            for (auto& l : k.legend) {
                l = {"bootloader"};
            }
            continue;
        }
        k.kind = SlotKind::Module;
        k.colour = m.colour;
        const int steps = m.macro ? backup::StepCount(*m.macro) : -1;
        for (size_t l = 0; l < 4; ++l) {
            k.legend[l] = LegendOf(m.hid[l], steps);
        }
    }
    return sheet;
}

std::optional<PaperFormat> FormatOfName(const std::string& word) {
    std::string w;
    for (const char c : word) {
        w += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (w == "pdf") {
        return PaperFormat::Pdf;
    }
    if (w == "svg") {
        return PaperFormat::Svg;
    }
    if (w == "png") {
        return PaperFormat::Png;
    }
    return std::nullopt;
}

std::optional<PaperFormat> FormatOfPath(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return std::nullopt;
    }
    return FormatOfName(path.substr(dot + 1));
}

bool WriteSheetFile(const std::string& path, const std::string& bytes, std::string& error) {
    // A layout is a file to keep: written into a stream it would be neither atomic nor kept.
    auto file = AtomicFile::Open(path, &error, nullptr, StreamTargets::Refuse);
    return file && file->Write(bytes, &error) && file->Commit(&error);
}

bool ParseLayers(const std::string& text, std::vector<int>& out, std::string& error) {
    std::vector<int> layers;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (item.size() != 1 || item[0] < '0' || item[0] > '3') {
            error = "a layer is 0, 1, 2 or 3, not '" + item + "'";
            return false;
        }
        const int l = item[0] - '0';
        if (std::find(layers.begin(), layers.end(), l) != layers.end()) {
            error = "layer " + item + " is named twice";
            return false;
        }
        layers.push_back(l);
    }
    if (layers.empty() || text.back() == ',') {
        error = "expected layers as 0,1,2,3";
        return false;
    }
    out = std::move(layers);
    return true;
}

}  // namespace tavrik::layout
