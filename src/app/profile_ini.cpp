#include "app/profile_ini.h"

#include <unistd.h>

#include <chrono>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/bounded_read.h"

// The header holds its definitions behind SI_IMPLEMENTATION; narrow text needs no converter.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace tavrik {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = AsciiLower(c);
    }
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// SimpleIni stops at a NUL; the text it sees is the part before it.
std::string_view BeforeNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

bool Load(CSimpleIniA& ini, std::string_view text) {
    text = BeforeNul(text);
    return ini.LoadData(text.data(), text.size()) >= 0;
}

std::optional<std::string> FirstValue(const CSimpleIniA& ini, const char* section,
                                      const char* key) {
    CSimpleIniA::TNamesDepend values;
    if (!ini.GetAllValues(section, key, values) || values.empty()) {
        return std::nullopt;
    }
    values.sort(CSimpleIniA::Entry::LoadOrder());
    return std::string(values.front().pItem);
}

using EntryMap = std::map<std::pair<std::string, std::string>, std::string>;

// Every (section, key) with the value that a read gives, names in lower case.
std::optional<EntryMap> AllEntries(std::string_view text) {
    CSimpleIniA ini(false, true, false);
    if (!Load(ini, text)) {
        return std::nullopt;
    }
    EntryMap out;
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    for (const auto& s : sections) {
        CSimpleIniA::TNamesDepend keys;
        ini.GetAllKeys(s.pItem, keys);
        for (const auto& k : keys) {
            auto name = std::make_pair(AsciiLower(s.pItem), AsciiLower(k.pItem));
            if (out.count(name) == 0) {
                if (auto v = FirstValue(ini, s.pItem, k.pItem)) {
                    out.emplace(std::move(name), std::move(*v));
                }
            }
        }
    }
    return out;
}

// One physical line of INI text, classified the way SimpleIni reads it.
struct IniLine {
    enum class Kind { Blank, Comment, Section, BadSection, Key, Other };
    size_t begin = 0;   // first byte of the line
    size_t keyEnd = 0;  // Key: end of the key name (blanks before '=' excluded)
    size_t end = 0;     // end of the content, before the line break
    size_t next = 0;    // start of the next line
    Kind kind = Kind::Other;
    std::string_view name;  // section or key name
};

std::vector<IniLine> SplitLines(std::string_view text) {
    std::vector<IniLine> lines;
    size_t pos = text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
    bool first = true;
    while (pos < text.size()) {
        IniLine line;
        line.begin = first ? 0 : pos;
        first = false;
        const size_t brk = text.find_first_of("\r\n", pos);
        line.end = brk == std::string_view::npos ? text.size() : brk;
        line.next = brk == std::string_view::npos                        ? text.size()
                    : text[brk] == '\r' && text.substr(brk, 2) == "\r\n" ? brk + 2
                                                                         : brk + 1;
        std::string_view content = text.substr(pos, line.end - pos);
        size_t lead = 0;
        while (lead < content.size() && IsBlank(content[lead])) {
            ++lead;
        }
        content.remove_prefix(lead);
        using Kind = IniLine::Kind;
        if (content.empty()) {
            line.kind = Kind::Blank;
        } else if (content.front() == ';' || content.front() == '#') {
            line.kind = Kind::Comment;
        } else if (content.front() == '[') {
            const size_t close = content.find(']');
            if (close == std::string_view::npos) {
                line.kind = Kind::BadSection;
            } else {
                line.kind = Kind::Section;
                line.name = TrimBlanks(content.substr(1, close - 1));
            }
        } else {
            const size_t eq = content.find('=');
            if (eq == std::string_view::npos || eq == 0) {
                line.kind = Kind::Other;
            } else {
                line.kind = Kind::Key;
                line.name = TrimBlanks(content.substr(0, eq));
                line.keyEnd = pos + lead + line.name.size();
            }
        }
        lines.push_back(line);
        pos = line.next;
    }
    return lines;
}

std::string_view LineBreakOf(std::string_view text) {
    const size_t brk = text.find_first_of("\r\n");
    if (brk == std::string_view::npos) {
        return "\n";
    }
    return text.substr(brk, 2) == "\r\n" ? "\r\n" : text.substr(brk, 1);
}

bool ValidSection(std::string_view s) {
    return !s.empty() && !HasLineBreakOrNul(s) && s.find(']') == std::string_view::npos &&
           TrimBlanks(s).size() == s.size();
}

bool ValidKey(std::string_view k) {
    return !k.empty() && !HasLineBreakOrNul(k) && k.find('=') == std::string_view::npos &&
           k.front() != '[' && k.front() != ';' && k.front() != '#' &&
           TrimBlanks(k).size() == k.size();
}

bool ValidValue(std::string_view v) {
    return !HasLineBreakOrNul(v) && TrimBlanks(v).size() == v.size();
}

std::string EditText(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value) {
    const std::vector<IniLine> lines = SplitLines(text);
    const std::string_view nl = LineBreakOf(text);
    const std::string keyLine = std::string(key) + "=" + std::string(value);
    using Kind = IniLine::Kind;

    size_t header = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::Section && SameName(lines[i].name, section)) {
            header = i;
            break;
        }
    }
    std::string out(text);
    if (header == lines.size()) {
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
            out += nl;
        }
        out += "[" + std::string(section) + "]" + std::string(nl) + keyLine + std::string(nl);
        return out;
    }
    size_t last = header;
    for (size_t i = header + 1; i < lines.size(); ++i) {
        const IniLine& l = lines[i];
        if (l.kind == Kind::Section || l.kind == Kind::BadSection) {
            break;
        }
        if (l.kind == Kind::Key) {
            if (SameName(l.name, key)) {
                // The key keeps its spelling and place; only the value changes.
                return out.replace(l.keyEnd, l.end - l.keyEnd, "=" + std::string(value));
            }
            last = i;
        }
    }
    const IniLine& after = lines[last];
    if (after.next == after.end) {  // the last line of the text, without a line break
        return out.insert(after.next, std::string(nl) + keyLine);
    }
    return out.insert(after.next, keyLine + std::string(nl));
}

// The parsed files read before: the text tables are read for every text fetched (a few
// dozen as the window starts), the settings file for every option.
class ReadCache {
public:
    std::shared_ptr<const EntryMap> Entries(const std::filesystem::path& file) {
        if (const std::optional<FileStamp> now = StampOfFile(file)) {
            std::lock_guard lock(mutex_);
            const auto it = files_.find(file);
            if (it != files_.end() && it->second.stamp == *now) {
                return it->second.entries;
            }
        }
        BoundedRead read = ReadBoundedFile(file, kProfileFileMax);
        if (!read.Ok()) {
            return nullptr;
        }
        std::optional<EntryMap> parsed = AllEntries(read.bytes);
        if (!parsed) {
            return nullptr;
        }
        auto entries = std::make_shared<const EntryMap>(std::move(*parsed));
        if (Settled(read.stamp)) {
            std::lock_guard lock(mutex_);
            if (files_.size() >= kFilesMax) {
                files_.clear();
            }
            files_[file] = {read.stamp, entries};
        }
        return entries;
    }

private:
    static constexpr size_t kFilesMax = 16;

    // A file changed a moment ago may change again within the same tick of the clock that
    // stamps it, with the same size: such a file is read anew each time until it rests.
    static bool Settled(const FileStamp& stamp) {
        const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
        return nowNs - stamp.modifiedNs > 2'000'000'000;
    }

    struct Entry {
        FileStamp stamp;
        std::shared_ptr<const EntryMap> entries;
    };
    std::mutex mutex_;
    std::map<std::filesystem::path, Entry> files_;
};

// A value as the profile functions give it: without one pair of enclosing quotes, cut.
std::string FinishValue(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return CutProfileText(v);
}

std::optional<std::string> ReadLimited(const std::filesystem::path& file) {
    BoundedRead read = ReadBoundedFile(file, kProfileFileMax);
    if (!read.Ok()) {
        return std::nullopt;
    }
    return std::move(read.bytes);
}

}  // namespace

std::string CutProfileText(std::string_view text) {
    size_t chars = 0;
    size_t trail = 0;  // continuation bytes since the last character start
    for (size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (i == 0 || !continuation || trail >= 3) {
            if (chars == kProfileTextMax) {
                return std::string(text.substr(0, i));
            }
            ++chars;
            trail = 0;
        } else {
            ++trail;
        }
    }
    return std::string(text);
}

std::optional<std::string> ProfileRawValue(std::string_view text, std::string_view section,
                                           std::string_view key) {
    CSimpleIniA ini(false, true, false);
    if (!Load(ini, text)) {
        return std::nullopt;
    }
    return FirstValue(ini, std::string(section).c_str(), std::string(key).c_str());
}

std::string ProfileStringFromText(std::string_view text, std::string_view section,
                                  std::string_view key, std::string_view fallback) {
    std::optional<std::string> raw = ProfileRawValue(text, section, key);
    if (!raw) {
        return CutProfileText(fallback);
    }
    return FinishValue(*raw);
}

std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view fallback) {
    // Never destroyed: a thread may still read a text while the program ends.
    static ReadCache& cache = *new ReadCache;
    const std::shared_ptr<const EntryMap> entries = cache.Entries(file);
    if (!entries) {
        return CutProfileText(fallback);
    }
    const auto it = entries->find({AsciiLower(section), AsciiLower(key)});
    return it == entries->end() ? CutProfileText(fallback) : FinishValue(it->second);
}

std::optional<std::string> SetProfileStringInText(std::string_view text, std::string_view section,
                                                  std::string_view key, std::string_view value) {
    if (!ValidSection(section) || !ValidKey(key) || !ValidValue(value) ||
        text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::optional<EntryMap> before = AllEntries(text);
    if (!before) {
        return std::nullopt;
    }
    std::string out = EditText(text, section, key, value);
    // Lines the reader understands otherwise than the editor (a section header broken over
    // lines, say) could move or hide other settings: such a write is not made.
    (*before)[{AsciiLower(section), AsciiLower(key)}] = std::string(value);
    const std::optional<EntryMap> after = AllEntries(out);
    if (!after || *after != *before) {
        return std::nullopt;
    }
    return out;
}

bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value) {
    std::error_code ec;
    std::filesystem::path target = file;
    if (std::filesystem::is_symlink(file, ec)) {
        target = std::filesystem::weakly_canonical(file, ec);
        if (ec) {
            return false;
        }
    }
    std::string text;
    const bool existed = std::filesystem::exists(target, ec);
    if (existed) {
        std::optional<std::string> old = ReadLimited(target);
        if (!old) {
            return false;
        }
        text = std::move(*old);
    }
    const std::optional<std::string> out = SetProfileStringInText(text, section, key, value);
    if (!out) {
        return false;
    }
    if (existed && *out == text) {
        return true;
    }
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), ec);
    }
    // The link itself, not its target: the writer refuses a link to nothing.
    return WriteFileAtomically(file, *out);
}

}  // namespace tavrik
