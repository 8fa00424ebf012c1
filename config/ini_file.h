// SPDX-License-Identifier: MIT
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// Size of the buffer a profile value is read into: a value yields at most
// kProfileBufferSize - 1 characters.
inline constexpr std::size_t kProfileBufferSize = 80;

// How the text of a value reads as a number. The readers below read every
// text as C does, whatever it holds; this says whether that reading is the
// number the text spells, so that a caller can name the values that are not.
enum class NumberText : std::uint8_t {
    kNumber,      // one number and nothing else, blanks around it aside
    kNotANumber,  // no number at all, or more text after it (also "nan", "inf")
    kOutOfRange,  // a number the type cannot hold
    kMissing,     // no such key (IniFile::GetInt, GetFloat only)
};

// Integer of a profile value as C's atoi reads it: leading blanks, an
// optional sign, decimal digits up to the first other character; no digits
// give 0. A number beyond the int32 range saturates at its end instead of
// being undefined. `how`, when given, is kNumber for a whole integer of the
// int32 range; text after the digits (also a point or an exponent) is
// kNotANumber, a number beyond the range kOutOfRange.
std::int32_t ParseProfileInt(std::string_view text, NumberText* how = nullptr);

// Number of a profile value as C's atof reads it in the "C" locale (a '.'
// decimal point whatever the process's locale). No number, or one that is
// not a finite float (inf, nan, beyond the float range), gives 0. `how`,
// when given: inf and nan are kNotANumber; a number beyond the float range,
// or one too small for a float that reads as 0, kOutOfRange.
float ParseProfileFloat(std::string_view text, NumberText* how = nullptr);

// Text of v as printf's "%d" and "%f" write it, independent of the locale.
std::string FormatProfileInt(std::int32_t v);
std::string FormatProfileFloat(float v);

// An INI file held in memory with the semantics of the Windows profile
// functions, so that files carried between stations read and update the same
// everywhere:
//
// - "[name]" starts a section (blanks around the line and around the name
//   are ignored, text after the first ']' too); "key=value" lines inside it
//   are keys. Section and key names compare without regard to ASCII case.
// - Blanks around keys and values are trimmed, and one matching pair of '"'
//   or '\'' around a value is removed on read.
// - The first matching section and, inside it, the first matching key win.
// - Lines starting with ';', lines without '=', and lines before the first
//   section are neither sections nor keys, but they are kept.
// - LF, CRLF and CR line ends all read; a UTF-8 byte-order mark is accepted.
//
// Serialize() gives back the parsed bytes unchanged (byte-order mark, every
// line and its line end) plus the edits of SetString: a key that exists gets
// its new value in its own line, a missing key is added after the last
// non-blank line of its section, a missing section is added at the end of the
// file. Added lines end like the file's first line (CRLF in a file that has
// no line end yet).
class IniFile {
public:
    IniFile();

    static IniFile Parse(std::string_view bytes);
    std::string Serialize() const;

    // The value as stored (trimmed, quotes removed), or nothing when the
    // section or key is missing.
    std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

    // The value read through a buffer of `bufferSize` characters (so at most
    // bufferSize - 1 of them); empty when missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::size_t bufferSize = kProfileBufferSize) const;
    // The value read through that buffer as a number; 0 when missing. `how`
    // as ParseProfileInt and ParseProfileFloat give it, kMissing when missing.
    std::int32_t GetInt(std::string_view section, std::string_view key,
                        NumberText* how = nullptr) const;
    float GetFloat(std::string_view section, std::string_view key, NumberText* how = nullptr) const;

    // Writes one key as described above. Refuses (returns false, changes
    // nothing) names and values that could not be read back as written: an
    // empty or blank-edged section or key name, a line end in any of them, a
    // ']' in the section name, a key starting with ';' or '[' or holding '='.
    bool SetString(std::string_view section, std::string_view key, std::string_view value);

    // A section looked up once, for many keys of it. Sections are never
    // removed, so an id stays valid as long as its file.
    struct SectionId {
        std::uint32_t index = 0;
    };
    std::optional<SectionId> FindSection(std::string_view name) const;
    // The section, appended (as a header line alone) when it is missing;
    // nothing for a name SetString would refuse.
    std::optional<SectionId> AddSection(std::string_view name);
    std::optional<std::string_view> Find(SectionId section, std::string_view key) const;
    std::int32_t GetInt(SectionId section, std::string_view key, NumberText* how = nullptr) const;
    float GetFloat(SectionId section, std::string_view key, NumberText* how = nullptr) const;
    bool SetString(SectionId section, std::string_view key, std::string_view value);

    bool HasByteOrderMark() const { return bom_; }
    // Line end of added lines: "\r\n", "\n" or "\r".
    std::string_view NewLineEnd() const;

private:
    enum class Eol : std::uint8_t { None, Lf, CrLf, Cr };

    // A stretch of the file: a header, a key line, or a run of lines that
    // are neither (comments, blank lines, junk, keys that an earlier key of
    // the same name hides). Only headers and the keys a lookup can reach get
    // an entry of their own, so memory grows with the keys, not the lines.
    struct Piece {
        std::size_t offset = 0;  // into source_, or into edits_ when edited
        std::size_t length = 0;  // bytes of source_ up to the final line end
        Eol eol = Eol::None;     // line end of the piece's last line
        bool edited = false;
    };

    // One section: its header, then the pieces up to its last non-blank
    // line, then the blank lines after them as one piece. Keys are added at
    // the end of the body, so adding one moves nothing. Section 0 holds what
    // comes before the first header and has no header of its own. A section
    // whose name an earlier section has is "shadowed": no lookup reaches it.
    struct Section {
        Piece header;
        std::vector<Piece> body;
        std::optional<Piece> tail;
        bool shadowed = false;
    };

    // Open-addressing index of names, the first of each name kept. A slot
    // holds the folded name's hash, the section the name belongs to and a
    // position (the section's index for a section name, the piece's index in
    // the section's body for a key). Names are compared against the file's
    // own text, so the index holds no text and costs no allocation per name.
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t section = 0;
        std::uint32_t pos = kEmptySlot;
    };
    static constexpr std::uint32_t kEmptySlot = UINT32_MAX;

    class Index {
    public:
        template <typename Same>
        std::optional<std::uint32_t> Find(std::uint64_t hash, std::uint32_t section,
                                          const Same& same) const;
        // Adds the position unless the name is already there; true when added.
        template <typename Same>
        bool Insert(std::uint64_t hash, std::uint32_t section, std::uint32_t pos, const Same& same);
        // Room for `names` names without growing.
        void Reserve(std::size_t names);

    private:
        void Rehash(std::size_t size);

        std::vector<Slot> slots_;
        std::size_t used_ = 0;
    };

    static std::string_view EolText(Eol eol);
    std::string_view Text(const Piece& piece) const;
    void SetText(Piece& piece, std::string text);
    bool IndexSection(std::uint32_t section);
    bool IndexKey(std::uint32_t section, std::uint32_t pos, std::string_view key);
    std::optional<std::uint32_t> FindSectionIndex(std::string_view name) const;
    std::optional<std::uint32_t> FindKey(std::uint32_t section, std::string_view key) const;
    // Gives the file's last line a line end before something is added after it.
    void TerminateLastLine(Piece& piece);

    bool bom_ = false;
    Eol newEol_ = Eol::CrLf;
    std::string source_;              // the parsed bytes, byte-order mark removed
    std::vector<std::string> edits_;  // text of the pieces written since
    std::vector<Section> sections_;
    Index sectionIndex_;  // section names; Slot::section unused
    Index keyIndex_;
};

}  // namespace kx
