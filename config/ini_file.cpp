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

bool EqualFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i])) {
            return false;
        }
    }
    return true;
}

// Hash of a name without regard to case, mixed with the section it
// belongs to (FNV-1a, then a 64-bit finaliser).
std::uint64_t NameHash(std::string_view name, std::uint32_t section) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (char c : name) {
        h ^= static_cast<unsigned char>(FoldChar(c));
        h *= 0x100000001b3ull;
    }
    h ^= section * 0x9e3779b97f4a7c15ull;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
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

// A name or value holds a line end (or, with `also`, that character).
bool Holds(std::string_view s, char also = '\n') {
    for (char c : s) {
        if (c == '\n' || c == '\r' || c == also) {
            return true;
        }
    }
    return false;
}

bool BlankEdged(std::string_view s) {
    return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back()));
}

}  // namespace

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

template <typename Same>
std::optional<std::uint32_t> IniFile::Index::Find(std::uint64_t hash, std::uint32_t section,
                                                  const Same& same) const {
    if (slots_.empty()) {
        return std::nullopt;
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.pos == kEmptySlot) {
            return std::nullopt;
        }
        if (slot.hash == hash && slot.section == section && same(slot.pos)) {
            return slot.pos;
        }
    }
}

template <typename Same>
void IniFile::Index::Insert(std::uint64_t hash, std::uint32_t section, std::uint32_t pos,
                            const Same& same) {
    if ((used_ + 1) * 2 > slots_.size()) {
        Grow();
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = slots_[i];
        if (slot.pos == kEmptySlot) {
            slot = Slot{hash, section, pos};
            ++used_;
            return;
        }
        if (slot.hash == hash && slot.section == section && same(slot.pos)) {
            return;  // the first of the name stays
        }
    }
}

void IniFile::Index::Reserve(std::size_t names) {
    std::size_t size = 64;
    while (size < names * 2) {
        size *= 2;
    }
    if (size > slots_.size()) {
        Rehash(size);
    }
}

void IniFile::Index::Grow() {
    Rehash(slots_.empty() ? 64 : slots_.size() * 2);
}

void IniFile::Index::Rehash(std::size_t size) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(size, Slot{});
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.pos == kEmptySlot) {
            continue;
        }
        std::size_t i = slot.hash & mask;
        while (slots_[i].pos != kEmptySlot) {
            i = (i + 1) & mask;
        }
        slots_[i] = slot;
    }
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
    // One slot per line at the most, so the index never grows while parsing.
    std::size_t lineEnds = 0;
    for (char c : bytes) {
        lineEnds += (c == '\n') | (c == '\r');
    }
    file.keyIndex_.Reserve(lineEnds + 1);
    bool eolSeen = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') {
            ++end;
        }
        if (end == bytes.size()) {
            end = std::string_view::npos;
        }
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

        if (HeaderName(line.text)) {
            file.sections_.push_back(Section{std::move(line), {}});
            file.IndexSection(static_cast<std::uint32_t>(file.sections_.size() - 1));
        } else {
            Section& s = file.sections_.back();
            s.body.push_back(std::move(line));
            file.IndexLine(static_cast<std::uint32_t>(file.sections_.size() - 1),
                           static_cast<std::uint32_t>(s.body.size() - 1));
        }
    }
    return file;
}

void IniFile::IndexSection(std::uint32_t section) {
    const std::string_view name = *HeaderName(sections_[section].header.text);
    sectionIndex_.Insert(NameHash(name, 0), 0, section, [&](std::uint32_t other) {
        return EqualFolded(*HeaderName(sections_[other].header.text), name);
    });
}

void IniFile::IndexLine(std::uint32_t section, std::uint32_t line) {
    if (section == 0) {
        return;  // before the first section: no key
    }
    const auto kl = SplitKeyLine(sections_[section].body[line].text);
    if (!kl) {
        return;
    }
    const auto& body = sections_[section].body;
    keyIndex_.Insert(NameHash(kl->key, section), section, line, [&](std::uint32_t other) {
        return EqualFolded(SplitKeyLine(body[other].text)->key, kl->key);
    });
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

std::optional<std::uint32_t> IniFile::FindSectionIndex(std::string_view name) const {
    return sectionIndex_.Find(NameHash(name, 0), 0, [&](std::uint32_t s) {
        return EqualFolded(*HeaderName(sections_[s].header.text), name);
    });
}

std::optional<std::uint32_t> IniFile::FindKey(std::uint32_t section, std::string_view key) const {
    if (section >= sections_.size()) {
        return std::nullopt;
    }
    const auto& body = sections_[section].body;
    return keyIndex_.Find(NameHash(key, section), section, [&](std::uint32_t line) {
        return EqualFolded(SplitKeyLine(body[line].text)->key, key);
    });
}

const IniFile::Line* IniFile::FindLine(std::uint32_t section, std::string_view key) const {
    const auto line = FindKey(section, key);
    return line ? &sections_[section].body[*line] : nullptr;
}

std::optional<IniFile::SectionId> IniFile::FindSection(std::string_view name) const {
    const auto s = FindSectionIndex(name);
    return s ? std::optional<SectionId>(SectionId{*s}) : std::nullopt;
}

std::optional<std::string_view> IniFile::Find(SectionId section, std::string_view key) const {
    const Line* line = FindLine(section.index, key);
    if (line == nullptr) {
        return std::nullopt;
    }
    return Unquote(SplitKeyLine(line->text)->value);
}

std::optional<std::string_view> IniFile::Find(std::string_view section,
                                              std::string_view key) const {
    const auto s = FindSection(section);
    return s ? Find(*s, key) : std::nullopt;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::size_t bufferSize) const {
    const auto v = Find(section, key);
    if (!v || bufferSize == 0) {
        return {};
    }
    return std::string(v->substr(0, bufferSize - 1));
}

std::int32_t IniFile::GetInt(SectionId section, std::string_view key) const {
    const auto v = Find(section, key);
    return v ? ParseProfileInt(v->substr(0, kProfileBufferSize - 1)) : 0;
}

float IniFile::GetFloat(SectionId section, std::string_view key) const {
    const auto v = Find(section, key);
    return v ? ParseProfileFloat(v->substr(0, kProfileBufferSize - 1)) : 0.0f;
}

std::int32_t IniFile::GetInt(std::string_view section, std::string_view key) const {
    const auto s = FindSection(section);
    return s ? GetInt(*s, key) : 0;
}

float IniFile::GetFloat(std::string_view section, std::string_view key) const {
    const auto s = FindSection(section);
    return s ? GetFloat(*s, key) : 0.0f;
}

void IniFile::TerminateLastLine(Line& line) {
    if (line.eol == Eol::None) {
        line.eol = newEol_;
    }
}

namespace {

bool ValidSectionName(std::string_view s) {
    return !s.empty() && !BlankEdged(s) && !Holds(s, ']');
}

bool ValidKeyLine(std::string_view key, std::string_view value) {
    return !key.empty() && !BlankEdged(key) && !Holds(key, '=') && !Holds(value) &&
           key.front() != ';' && key.front() != '[';
}

}  // namespace

std::optional<IniFile::SectionId> IniFile::AddSection(std::string_view name) {
    if (!ValidSectionName(name)) {
        return std::nullopt;
    }
    if (const auto s = FindSection(name)) {
        return s;
    }
    // A new section at the end of the file.
    Section& last = sections_.back();
    if (!last.body.empty()) {
        TerminateLastLine(last.body.back());
    } else if (sections_.size() > 1) {
        TerminateLastLine(last.header);
    }
    Section added;
    added.header.text.reserve(name.size() + 2);
    added.header.text.append("[").append(name).append("]");
    added.header.eol = newEol_;
    sections_.push_back(std::move(added));
    const auto index = static_cast<std::uint32_t>(sections_.size() - 1);
    IndexSection(index);
    return SectionId{index};
}

bool IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    if (!ValidSectionName(section) || !ValidKeyLine(key, value)) {
        return false;
    }
    return SetString(*AddSection(section), key, value);
}

bool IniFile::SetString(SectionId section, std::string_view key, std::string_view value) {
    if (section.index == 0 || section.index >= sections_.size() || !ValidKeyLine(key, value)) {
        return false;
    }
    Section& sec = sections_[section.index];

    if (const auto found = FindKey(section.index, key)) {
        // In place, keeping the key as the file spells it and the line end.
        Line& line = sec.body[*found];
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
    IndexLine(section.index, static_cast<std::uint32_t>(at));
    return true;
}

}  // namespace kx
