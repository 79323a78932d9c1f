#include "keys/picker_find.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "keys/keycodes.h"
#include "keys/picker_table.h"

namespace tavrik {
namespace {

// Lower-case ASCII without blanks; other bytes (UTF-8) as they are.
std::string Folded(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ') {
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

// A HID value without a name of its own is named by its number, which no picture shows.
bool Findable(std::string_view name) {
    return !(name.size() >= 2 && std::all_of(name.begin(), name.end(), [](char c) {
                 return std::isdigit(static_cast<unsigned char>(c)) != 0;
             }));
}

}  // namespace

int PickerEntryOfKeyCode(uint8_t keyCode, int layer) {
    if (keyCode == 0) {
        return -1;
    }
    for (int i = 0; i < kPickerKeyCount; ++i) {
        if (PickerKeyTable()[static_cast<size_t>(i)].keyCode == keyCode &&
            PickerKeyOffered(i, layer)) {
            return i;
        }
    }
    return -1;
}

PickerMatches FindPickerKeys(std::string_view query, int layer) {
    PickerMatches found;
    const std::string wanted = Folded(query);
    if (wanted.empty()) {
        return found;
    }
    for (int i = 0; i < kPickerKeyCount; ++i) {
        if (!PickerKeyOffered(i, layer)) {
            continue;
        }
        const uint8_t hid = HidOfKeyCode(PickerKeyTable()[static_cast<size_t>(i)].keyCode);
        bool matched = false;
        for (const std::string_view name : {HidKeyName(hid), HidKeyNameChinese(hid)}) {
            if (name.empty() || !Findable(name)) {
                continue;
            }
            const std::string folded = Folded(name);
            if (folded == wanted && found.exact < 0) {
                found.exact = i;
            }
            matched = matched || folded.find(wanted) != std::string::npos;
        }
        if (matched) {
            found.entries.push_back(i);
        }
    }
    return found;
}

}  // namespace tavrik
