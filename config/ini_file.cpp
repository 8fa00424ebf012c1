#include "config/ini_file.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <system_error>

namespace kx {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Blanks trimmed around names and values (C's isspace minus the line ends,
// which never reach a line's text).
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The blanks C's atoi and atof skip.
bool IsCSpace(char c) {
    return IsBlank(c) || c == '\n' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char FoldChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void AppendFolded(std::string& out, std::string_view s) {
    for (char c : s) {
        out.push_back(FoldChar(c));
    }
}

std::string Folded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    AppendFolded(out, s);
    return out;
}

// The name of a section header line, or nothing when the line is not one.
std::optional<std::string_view> HeaderName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

// Key and value of a key line, or nothing when the line is not one.
struct KeyLine {
    std::string_view key;
    std::string_view value;  // trimmed, quotes still on
};

std::optional<KeyLine> SplitKeyLine(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == ';') {
        return std::nullopt;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    KeyLine kl{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
    if (kl.key.empty()) {
        return std::nullopt;
    }
    return kl;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

bool HasLineEnd(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool BlankEdged(std::string_view s) {
    return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back()));
}

}  // namespace

// Lookup id of a key: the section's index in 8 bytes, then the folded key.
// Short ids are built on the stack, so a lookup allocates nothing.
class IniFile::KeyId {
public:
    KeyId(std::size_t section, std::string_view key) {
        const std::size_t size = sizeof section + key.size();
        char* out = inline_.data();
        if (size > inline_.size()) {
            heap_.resize(size);
            out = heap_.data();
        }
        std::memcpy(out, &section, sizeof section);
        for (std::size_t i = 0; i < key.size(); ++i) {
            out[sizeof section + i] = FoldChar(key[i]);
        }
        view_ = std::string_view(out, size);
    }
    KeyId(const KeyId&) = delete;
    KeyId& operator=(const KeyId&) = delete;

    std::string_view view() const { return view_; }

private:
    std::array<char, 96> inline_;
    std::string heap_;
    std::string_view view_;
};

std::int32_t ParseProfileInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t v = 0;
    constexpr std::int64_t kLimit = static_cast<std::int64_t>(INT32_MAX) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > kLimit) {
            v = kLimit;  // keeps going through the digits, saturated
        }
    }
    if (negative) {
        return static_cast<std::int32_t>(-v);  // -2^31 at the most
    }
    return static_cast<std::int32_t>(v > INT32_MAX ? INT32_MAX : v);
}

float ParseProfileFloat(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    if (first == last || *first == '+' || *first == '-') {
        return 0.0f;
    }
    double d = 0.0;
    std::from_chars_result r{};
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        r = std::from_chars(first + 2, last, d, std::chars_format::hex);
        if (r.ec == std::errc::invalid_argument) {
            return 0.0f;  // "0x" without hex digits: the number 0
        }
    } else {
        r = std::from_chars(first, last, d, std::chars_format::general);
    }
    if (r.ec != std::errc() || !std::isfinite(d) || d > FLT_MAX) {
        return 0.0f;
    }
    const float f = static_cast<float>(d);
    return negative ? -f : f;
}

std::string FormatProfileInt(std::int32_t v) {
    std::array<char, 16> buf;
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return std::string(buf.data(), r.ptr);
}

std::string FormatProfileFloat(float v) {
    // FLT_MAX takes 39 digits before the point.
    std::array<char, 64> buf;
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), static_cast<double>(v),
                                 std::chars_format::fixed, 6);
    return std::string(buf.data(), r.ptr);
}

IniFile::IniFile() : sections_(1) {}

std::string_view IniFile::EolText(Eol eol) {
    switch (eol) {
        case Eol::Lf:
            return "\n";
        case Eol::CrLf:
            return "\r\n";
        case Eol::Cr:
            return "\r";
        case Eol::None:
            break;
    }
    return {};
}

std::string_view IniFile::NewLineEnd() const {
    return EolText(newEol_);
}

IniFile IniFile::Parse(std::string_view bytes) {
    IniFile file;
    if (bytes.starts_with(kBom)) {
        file.bom_ = true;
        bytes.remove_prefix(kBom.size());
    }
    bool eolSeen = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find_first_of("\r\n", pos);
        Line line;
        std::size_t next = bytes.size();
        if (end == std::string_view::npos) {
            line.text.assign(bytes.substr(pos));
        } else {
            line.text.assign(bytes.substr(pos, end - pos));
            if (bytes[end] == '\n') {
                line.eol = Eol::Lf;
                next = end + 1;
            } else if (end + 1 < bytes.size() && bytes[end + 1] == '\n') {
                line.eol = Eol::CrLf;
                next = end + 2;
            } else {
                line.eol = Eol::Cr;
                next = end + 1;
            }
            if (!eolSeen) {
                file.newEol_ = line.eol;
                eolSeen = true;
            }
        }
        pos = next;

        if (const auto name = HeaderName(line.text)) {
            file.sectionIndex_.emplace(Folded(*name), file.sections_.size());
            file.sections_.push_back(Section{std::move(line), {}});
        } else {
            Section& s = file.sections_.back();
            s.body.push_back(std::move(line));
            file.IndexLine(file.sections_.size() - 1, s.body.size() - 1);
        }
    }
    return file;
}

void IniFile::IndexLine(std::size_t section, std::size_t line) {
    if (section == 0) {
        return;  // before the first section: no key
    }
    const auto kl = SplitKeyLine(sections_[section].body[line].text);
    if (!kl) {
        return;
    }
    const KeyId id(section, kl->key);
    if (keyIndex_.find(id.view()) == keyIndex_.end()) {
        keyIndex_.emplace(std::string(id.view()), line);
    }
}

std::string IniFile::Serialize() const {
    std::size_t size = bom_ ? kBom.size() : 0;
    for (const Section& s : sections_) {
        size += s.header.text.size() + 2;
        for (const Line& l : s.body) {
            size += l.text.size() + 2;
        }
    }
    std::string out;
    out.reserve(size);
    if (bom_) {
        out.append(kBom);
    }
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const Section& s = sections_[i];
        if (i > 0) {
            out.append(s.header.text).append(EolText(s.header.eol));
        }
        for (const Line& l : s.body) {
            out.append(l.text).append(EolText(l.eol));
        }
    }
    return out;
}

std::optional<std::size_t> IniFile::FindSection(std::string_view name) const {
    std::array<char, 96> buf;
    std::string heap;
    std::string_view folded;
    if (name.size() <= buf.size()) {
        for (std::size_t i = 0; i < name.size(); ++i) {
            buf[i] = FoldChar(name[i]);
        }
        folded = std::string_view(buf.data(), name.size());
    } else {
        heap = Folded(name);
        folded = heap;
    }
    const auto it = sectionIndex_.find(folded);
    if (it == sectionIndex_.end()) {
        return std::nullopt;
    }
    return it->second;
}

const IniFile::Line* IniFile::FindLine(std::string_view section, std::string_view key) const {
    const auto s = FindSection(section);
    if (!s) {
        return nullptr;
    }
    const KeyId id(*s, key);
    const auto it = keyIndex_.find(id.view());
    if (it == keyIndex_.end()) {
        return nullptr;
    }
    return &sections_[*s].body[it->second];
}

std::optional<std::string_view> IniFile::Find(std::string_view section,
                                              std::string_view key) const {
    const Line* line = FindLine(section, key);
    if (line == nullptr) {
        return std::nullopt;
    }
    return Unquote(SplitKeyLine(line->text)->value);
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::size_t bufferSize) const {
    const auto v = Find(section, key);
    if (!v || bufferSize == 0) {
        return {};
    }
    return std::string(v->substr(0, bufferSize - 1));
}

std::int32_t IniFile::GetInt(std::string_view section, std::string_view key) const {
    const auto v = Find(section, key);
    return v ? ParseProfileInt(v->substr(0, kProfileBufferSize - 1)) : 0;
}

float IniFile::GetFloat(std::string_view section, std::string_view key) const {
    const auto v = Find(section, key);
    return v ? ParseProfileFloat(v->substr(0, kProfileBufferSize - 1)) : 0.0f;
}

void IniFile::TerminateLastLine(Line& line) {
    if (line.eol == Eol::None) {
        line.eol = newEol_;
    }
}

bool IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    if (section.empty() || key.empty() || BlankEdged(section) || BlankEdged(key) ||
        HasLineEnd(section) || HasLineEnd(key) || HasLineEnd(value) ||
        section.find(']') != std::string_view::npos || key.front() == ';' || key.front() == '[' ||
        key.find('=') != std::string_view::npos) {
        return false;
    }

    const auto s = FindSection(section);
    if (!s) {
        // A new section at the end of the file.
        Section& last = sections_.back();
        if (!last.body.empty()) {
            TerminateLastLine(last.body.back());
        } else if (sections_.size() > 1) {
            TerminateLastLine(last.header);
        }
        Section added;
        added.header.text.reserve(section.size() + 2);
        added.header.text.append("[").append(section).append("]");
        added.header.eol = newEol_;
        sectionIndex_.emplace(Folded(section), sections_.size());
        sections_.push_back(std::move(added));
    }
    const std::size_t si = s ? *s : sections_.size() - 1;
    Section& sec = sections_[si];

    const KeyId id(si, key);
    if (const auto it = keyIndex_.find(id.view()); it != keyIndex_.end()) {
        // In place, keeping the key as the file spells it and the line end.
        Line& line = sec.body[it->second];
        std::string text(SplitKeyLine(line.text)->key);
        text.append("=").append(value);
        line.text = std::move(text);
        return true;
    }

    // After the section's last non-blank line, so that blank lines that
    // separate it from the next section stay where they are. Only blank
    // lines follow the insertion point, so no indexed line moves.
    std::size_t at = sec.body.size();
    while (at > 0 && Trim(sec.body[at - 1].text).empty()) {
        --at;
    }
    TerminateLastLine(at > 0 ? sec.body[at - 1] : sec.header);
    Line line;
    line.text.reserve(key.size() + 1 + value.size());
    line.text.append(key).append("=").append(value);
    line.eol = newEol_;
    sec.body.insert(sec.body.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    keyIndex_.emplace(std::string(id.view()), at);
    return true;
}

}  // namespace kx
