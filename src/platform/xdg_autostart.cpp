#include "platform/xdg_autostart.h"

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/bounded_read.h"

namespace tavrik {

namespace {

// An entry file larger than this is not one of ours: it counts as a different entry.
constexpr size_t kEntryMax = 64 * 1024;

std::filesystem::path ConfigHome() {
    // Relative values are invalid by the base-directory rules and are ignored.
    if (const char* v = std::getenv("XDG_CONFIG_HOME"); v != nullptr && v[0] == '/') {
        return v;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return std::filesystem::path(home) / ".config";
    }
    return {};
}

std::optional<std::string> ReadEntry(const std::filesystem::path& file) {
    BoundedRead read = ReadBoundedFile(file, kEntryMax);
    if (!read.Ok()) {
        return std::nullopt;
    }
    return std::move(read.bytes);
}

}  // namespace

std::filesystem::path AutostartEntryFile(std::string_view name) {
    const std::filesystem::path config = ConfigHome();
    if (config.empty()) {
        return {};
    }
    return config / "autostart" / (std::string(name) + ".desktop");
}

std::string DesktopExecValue(const std::filesystem::path& program, std::string_view argument) {
    const std::string path = program.string();
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quote = path.find_first_of(reserved) != std::string::npos;
    std::string arg;
    if (quote) {
        arg += '"';
    }
    for (char c : path) {
        if (c == '%') {
            arg += "%%";  // a literal percent sign among the field codes
        } else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            arg += '\\';
            arg += c;
        } else {
            arg += c;
        }
    }
    if (quote) {
        arg += '"';
    }
    // The value is a desktop entry string: its own escapes apply on top.
    std::string value;
    for (char c : arg) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    if (!argument.empty()) {
        value += ' ';
        value += argument;
    }
    return value;
}

bool WriteAutostartEntry(const std::filesystem::path& entry, std::string_view name,
                         std::string_view execValue) {
    if (entry.empty()) {
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(entry.parent_path(), ec);
    std::string text = "[Desktop Entry]\nType=Application\nName=";
    text += name;
    text += "\nExec=";
    text += execValue;
    text += "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    // Never half an entry for the desktop to read.
    return WriteFileAtomically(entry, text);
}

bool AutostartEntryMatches(const std::filesystem::path& entry, std::string_view execValue) {
    if (entry.empty()) {
        return false;
    }
    const std::optional<std::string> text = ReadEntry(entry);
    if (!text) {
        return false;
    }
    std::string_view rest = *text;
    bool inMainGroup = false;
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        const std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
        } else if (inMainGroup && line.substr(0, 5) == "Exec=") {
            return line.substr(5) == execValue;
        }
    }
    return false;
}

bool RemoveAutostartEntry(const std::filesystem::path& entry) {
    if (entry.empty()) {
        return false;
    }
    std::error_code ec;
    std::filesystem::remove(entry, ec);
    return std::filesystem::symlink_status(entry, ec).type() ==
           std::filesystem::file_type::not_found;
}

}  // namespace tavrik
