#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kx {

// Size of the buffer a profile value is read into: a value yields at most
// kProfileBufferSize - 1 characters.
inline constexpr std::size_t kProfileBufferSize = 80;

// Integer of a profile value as C's atoi reads it: leading blanks, an
// optional sign, decimal digits up to the first other character; no digits
// give 0. A number beyond the int32 range saturates at its end instead of
// being undefined.
std::int32_t ParseProfileInt(std::string_view text);

// Number of a profile value as C's atof reads it in the "C" locale (a '.'
// decimal point whatever the process's locale). No number, or one that is
// not a finite float (inf, nan, beyond the float range), gives 0.
float ParseProfileFloat(std::string_view text);

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
    std::int32_t GetInt(std::string_view section, std::string_view key) const;
    float GetFloat(std::string_view section, std::string_view key) const;

    // Writes one key as described above. Refuses (returns false, changes
    // nothing) names and values that could not be read back as written: an
    // empty or blank-edged section or key name, a line end in any of them, a
    // ']' in the section name, a key starting with ';' or '[' or holding '='.
    bool SetString(std::string_view section, std::string_view key, std::string_view value);

    bool HasByteOrderMark() const { return bom_; }
    // Line end of added lines: "\r\n", "\n" or "\r".
    std::string_view NewLineEnd() const;

private:
    enum class Eol : std::uint8_t { None, Lf, CrLf, Cr };

    struct Line {
        std::string text;  // without its line end
        Eol eol = Eol::None;
    };

    // Lines of one section: its header line, then every line up to the next
    // header. Section 0 holds the lines before the first header and has no
    // header of its own.
    struct Section {
        Line header;
        std::vector<Line> body;
    };

    // Index of the first key of a name in a section: the section's index and
    // the folded key name, packed in one string so that one map serves the
    // whole file.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    using KeyMap = std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>>;
    class KeyId;

    static std::string_view EolText(Eol eol);
    void IndexLine(std::size_t section, std::size_t line);
    std::optional<std::size_t> FindSection(std::string_view name) const;
    const Line* FindLine(std::string_view section, std::string_view key) const;
    // Gives the file's last line a line end before something is added after it.
    void TerminateLastLine(Line& line);

    bool bom_ = false;
    Eol newEol_ = Eol::CrLf;
    std::vector<Section> sections_;
    KeyMap sectionIndex_;  // folded name -> index of its first section
    KeyMap keyIndex_;
};

}  // namespace kx
