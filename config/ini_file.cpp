// SPDX-License-Identifier: MIT
#include "config/ini_file.h"

#include <algorithm>
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

// Moves `i` past the leading blanks and one sign, as atoi and atof do; true
// when the sign was '-'.
bool SkipBlanksAndSign(std::string_view text, std::size_t& i) {
    while (i < text.size() && IsCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    return negative;
}

// Nothing but those blanks: what may follow a number whose text is whole.
bool OnlyCSpace(std::string_view s) {
    return std::all_of(s.begin(), s.end(), IsCSpace);
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

std::int32_t ParseProfileInt(std::string_view text, NumberText* how) {
    std::size_t i = 0;
    const bool negative = SkipBlanksAndSign(text, i);
    const std::size_t digits = i;
    std::int64_t v = 0;
    bool saturated = false;
    constexpr std::int64_t kLimit = static_cast<std::int64_t>(INT32_MAX) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > kLimit) {
            v = kLimit;  // keeps going through the digits, saturated
            saturated = true;
        }
    }
    if (how != nullptr) {
        if (i == digits || !OnlyCSpace(text.substr(i))) {
            *how = NumberText::kNotANumber;
        } else if (saturated || (!negative && v > INT32_MAX)) {
            *how = NumberText::kOutOfRange;
        } else {
            *how = NumberText::kNumber;
        }
    }
    if (negative) {
        return static_cast<std::int32_t>(-v);  // -2^31 at the most
    }
    return static_cast<std::int32_t>(v > INT32_MAX ? INT32_MAX : v);
}

float ParseProfileFloat(std::string_view text, NumberText* how) {
    NumberText ignored = NumberText::kNumber;
    NumberText& result = how != nullptr ? *how : ignored;
    result = NumberText::kNotANumber;
    std::size_t i = 0;
    const bool negative = SkipBlanksAndSign(text, i);
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
    if (r.ec == std::errc::invalid_argument) {
        return 0.0f;
    }
    const bool whole = OnlyCSpace(std::string_view(r.ptr, static_cast<std::size_t>(last - r.ptr)));
    if (r.ec != std::errc() || !std::isfinite(d) || d > FLT_MAX) {
        // inf and nan are no number; a finite one beyond the float range
        // (or beyond the double range, either way) is out of range.
        if (whole && (r.ec == std::errc::result_out_of_range || std::isfinite(d))) {
            result = NumberText::kOutOfRange;
        }
        return 0.0f;
    }
    const float f = static_cast<float>(d);
    if (!whole) {
        result = NumberText::kNotANumber;
    } else if (f == 0.0f && d != 0.0) {
        result = NumberText::kOutOfRange;  // too small for a float: read as 0
    } else {
        result = NumberText::kNumber;
    }
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
bool IniFile::Index::Insert(std::uint64_t hash, std::uint32_t section, std::uint32_t pos,
                            const Same& same) {
    if ((used_ + 1) * 2 > slots_.size()) {
        Rehash(slots_.empty() ? 64 : slots_.size() * 2);
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = slots_[i];
        if (slot.pos == kEmptySlot) {
            slot = Slot{hash, section, pos};
            ++used_;
            return true;
        }
        if (slot.hash == hash && slot.section == section && same(slot.pos)) {
            return false;  // the first of the name stays
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

std::string_view IniFile::Text(const Piece& piece) const {
    if (piece.edited) {
        return edits_[piece.offset];
    }
    return std::string_view(source_).substr(piece.offset, piece.length);
}

void IniFile::SetText(Piece& piece, std::string text) {
    if (piece.edited) {
        edits_[piece.offset] = std::move(text);
        return;
    }
    piece.edited = true;
    piece.offset = edits_.size();
    piece.length = 0;
    edits_.push_back(std::move(text));
}

IniFile IniFile::Parse(std::string_view bytes) {
    IniFile file;
    if (bytes.starts_with(kBom)) {
        file.bom_ = true;
        bytes.remove_prefix(kBom.size());
    }
    file.source_.assign(bytes);
    const std::string_view src = file.source_;

    // Room for the key lines (each holds an '='), so the index does not grow
    // while parsing a configuration.
    std::size_t lineEnds = 0;
    std::size_t equals = 0;
    for (char c : src) {
        lineEnds += (c == '\n') | (c == '\r');
        equals += c == '=';
    }
    // A full configuration has some 8600 keys; a larger guess (a file of
    // repeated keys) is left to grow as keys really arrive.
    file.keyIndex_.Reserve(std::min({equals, lineEnds + 1, std::size_t{1} << 15}));

    // Lines that are neither headers nor reachable keys gather into runs:
    // `content` up to the last non-blank one, `blanks` after it. Both are
    // stretches of the source, so a run grows by moving its end.
    std::optional<Piece> content;
    std::optional<Piece> blanks;
    // Ends the gathering before a key (the runs go into the body) or at the
    // end of a section (blank lines at its very end become its tail).
    const auto flush = [&](bool sectionEnds) {
        Section& s = file.sections_.back();
        if (content) {
            s.body.push_back(*content);
            content.reset();
        }
        if (blanks) {
            if (sectionEnds) {
                s.tail = *blanks;
            } else {
                s.body.push_back(*blanks);
            }
            blanks.reset();
        }
    };

    bool eolSeen = false;
    std::size_t pos = 0;
    while (pos < src.size()) {
        std::size_t end = pos;
        while (end < src.size() && src[end] != '\n' && src[end] != '\r') {
            ++end;
        }
        Eol eol = Eol::None;
        std::size_t next = end;
        if (end < src.size()) {
            if (src[end] == '\n') {
                eol = Eol::Lf;
                next = end + 1;
            } else if (end + 1 < src.size() && src[end + 1] == '\n') {
                eol = Eol::CrLf;
                next = end + 2;
            } else {
                eol = Eol::Cr;
                next = end + 1;
            }
            if (!eolSeen) {
                file.newEol_ = eol;
                eolSeen = true;
            }
        }
        const std::string_view text = src.substr(pos, end - pos);
        const Piece line{pos, end - pos, eol, false};
        pos = next;

        if (HeaderName(text)) {
            flush(true);
            file.sections_.push_back(Section{line, {}, std::nullopt, false});
            const auto index = static_cast<std::uint32_t>(file.sections_.size() - 1);
            file.sections_.back().shadowed = !file.IndexSection(index);
            continue;
        }
        const auto si = static_cast<std::uint32_t>(file.sections_.size() - 1);
        Section& s = file.sections_.back();
        if (si != 0 && !s.shadowed) {
            if (const auto kl = SplitKeyLine(text)) {
                // A key of its own, unless an earlier key of the name hides it.
                const std::size_t at = s.body.size() + (content ? 1 : 0) + (blanks ? 1 : 0);
                if (file.IndexKey(si, static_cast<std::uint32_t>(at), kl->key)) {
                    flush(false);
                    s.body.push_back(line);
                    continue;
                }
            }
        }
        const std::size_t lineEnd = line.offset + line.length;
        if (Trim(text).empty()) {
            if (!blanks) {
                blanks = Piece{line.offset, 0, eol, false};
            }
            blanks->length = lineEnd - blanks->offset;
            blanks->eol = eol;
        } else {
            if (!content) {
                content = Piece{blanks ? blanks->offset : line.offset, 0, eol, false};
            }
            content->length = lineEnd - content->offset;
            content->eol = eol;
            blanks.reset();
        }
    }
    flush(true);
    return file;
}

bool IniFile::IndexSection(std::uint32_t section) {
    const std::string_view name = *HeaderName(Text(sections_[section].header));
    return sectionIndex_.Insert(NameHash(name, 0), 0, section, [&](std::uint32_t other) {
        return EqualFolded(*HeaderName(Text(sections_[other].header)), name);
    });
}

bool IniFile::IndexKey(std::uint32_t section, std::uint32_t pos, std::string_view key) {
    const auto& body = sections_[section].body;
    return keyIndex_.Insert(NameHash(key, section), section, pos, [&](std::uint32_t other) {
        return EqualFolded(SplitKeyLine(Text(body[other]))->key, key);
    });
}

std::string IniFile::Serialize() const {
    std::size_t size = bom_ ? kBom.size() : 0;
    const auto add = [&](const Piece& p) { size += Text(p).size() + 2; };
    for (const Section& s : sections_) {
        add(s.header);
        std::for_each(s.body.begin(), s.body.end(), add);
        if (s.tail) {
            add(*s.tail);
        }
    }
    std::string out;
    out.reserve(size);
    if (bom_) {
        out.append(kBom);
    }
    const auto put = [&](const Piece& p) { out.append(Text(p)).append(EolText(p.eol)); };
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const Section& s = sections_[i];
        if (i > 0) {
            put(s.header);
        }
        std::for_each(s.body.begin(), s.body.end(), put);
        if (s.tail) {
            put(*s.tail);
        }
    }
    return out;
}

std::optional<std::uint32_t> IniFile::FindSectionIndex(std::string_view name) const {
    return sectionIndex_.Find(NameHash(name, 0), 0, [&](std::uint32_t s) {
        return EqualFolded(*HeaderName(Text(sections_[s].header)), name);
    });
}

std::optional<std::uint32_t> IniFile::FindKey(std::uint32_t section, std::string_view key) const {
    if (section >= sections_.size()) {
        return std::nullopt;
    }
    const auto& body = sections_[section].body;
    return keyIndex_.Find(NameHash(key, section), section, [&](std::uint32_t pos) {
        return EqualFolded(SplitKeyLine(Text(body[pos]))->key, key);
    });
}

std::optional<IniFile::SectionId> IniFile::FindSection(std::string_view name) const {
    const auto s = FindSectionIndex(name);
    return s ? std::optional<SectionId>(SectionId{*s}) : std::nullopt;
}

std::optional<std::string_view> IniFile::Find(SectionId section, std::string_view key) const {
    const auto pos = FindKey(section.index, key);
    if (!pos) {
        return std::nullopt;
    }
    return Unquote(SplitKeyLine(Text(sections_[section.index].body[*pos]))->value);
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

namespace {

// A missing key reads as 0.
template <typename T>
T Missing(NumberText* how) {
    if (how != nullptr) {
        *how = NumberText::kMissing;
    }
    return T{};
}

}  // namespace

std::int32_t IniFile::GetInt(SectionId section, std::string_view key, NumberText* how) const {
    const auto v = Find(section, key);
    return v ? ParseProfileInt(v->substr(0, kProfileBufferSize - 1), how)
             : Missing<std::int32_t>(how);
}

float IniFile::GetFloat(SectionId section, std::string_view key, NumberText* how) const {
    const auto v = Find(section, key);
    return v ? ParseProfileFloat(v->substr(0, kProfileBufferSize - 1), how) : Missing<float>(how);
}

std::int32_t IniFile::GetInt(std::string_view section, std::string_view key,
                             NumberText* how) const {
    const auto s = FindSection(section);
    return s ? GetInt(*s, key, how) : Missing<std::int32_t>(how);
}

float IniFile::GetFloat(std::string_view section, std::string_view key, NumberText* how) const {
    const auto s = FindSection(section);
    return s ? GetFloat(*s, key, how) : Missing<float>(how);
}

void IniFile::TerminateLastLine(Piece& piece) {
    if (piece.eol == Eol::None) {
        piece.eol = newEol_;
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
    if (last.tail) {
        TerminateLastLine(*last.tail);
    } else if (!last.body.empty()) {
        TerminateLastLine(last.body.back());
    } else if (sections_.size() > 1) {
        TerminateLastLine(last.header);
    }
    Section added;
    std::string header;
    header.reserve(name.size() + 2);
    header.append("[").append(name).append("]");
    SetText(added.header, std::move(header));
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
    if (section.index == 0 || section.index >= sections_.size() ||
        sections_[section.index].shadowed || !ValidKeyLine(key, value)) {
        return false;
    }
    Section& sec = sections_[section.index];
    std::string text;
    if (const auto found = FindKey(section.index, key)) {
        // In place, keeping the key as the file spells it and the line end.
        Piece& piece = sec.body[*found];
        const std::string_view spelled = SplitKeyLine(Text(piece))->key;
        text.reserve(spelled.size() + 1 + value.size());
        text.append(spelled).append("=").append(value);
        SetText(piece, std::move(text));
        return true;
    }
    // After the section's last non-blank line, so that blank lines that
    // separate it from the next section stay where they are.
    TerminateLastLine(sec.body.empty() ? sec.header : sec.body.back());
    text.reserve(key.size() + 1 + value.size());
    text.append(key).append("=").append(value);
    Piece piece;
    SetText(piece, std::move(text));
    piece.eol = newEol_;
    sec.body.push_back(piece);
    IndexKey(section.index, static_cast<std::uint32_t>(sec.body.size() - 1), key);
    return true;
}

}  // namespace kx
