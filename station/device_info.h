// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/tr_text.h"
#include "hid/classic_tester.h"
#include "hid/hiddata_masterhid.h"

namespace kx {

class hiddata_simple_runoff;
class hiddata_velmora5;

// What the device-information dialogs show, worked out without Qt: the texts
// of board values, the brand picture for a vendor name, and one record per
// dialog read from its board. Every board value is untrusted: a value that
// did not come shows as an empty field, texts are cut to their field and
// anything but printable ASCII is shown as "?".

// --- texts ------------------------------------------------------------------

// A text field from a board as the dialogs show it: at most `maxChars`
// characters, cut at the first zero byte, every byte outside printable ASCII
// replaced by "?". Empty when the text did not come.
std::string BoardText(const std::optional<std::string>& text, std::size_t maxChars = 16);

// "0x%x" (0x0105 gives "0x105"); empty when the value did not come.
std::string HexVersionText(std::optional<std::uint16_t> version);
// "%x.%x.%x.%x", one digit per 4-bit group (0x1234 gives "1.2.3.4").
std::string NibbleVersionText(std::optional<std::uint16_t> version);
// "%04d年%02d月%02d日" (FirmwareDateText, in the station's language); empty
// unless all three came. A month or day out of
// the calendar is shown as the number it is.
std::string DateText(std::optional<std::uint16_t> year, std::optional<std::uint8_t> month,
                     std::optional<std::uint8_t> day);

// The firmware edition of a one-to-one board (0 to 6), in the station's
// language; empty for any other number and when it did not come.
std::string EditionText(std::optional<std::uint8_t> edition);
// Untranslated; ClassicAbout gives it translated.
inline constexpr const char* kClassicEdition = KX_TRANSLATE_NOOP("DeviceInfo", "经典版本");
// The author shown for a classic tester, which has no author field.
inline constexpr const char* kClassicAuthor = "BORVANE";

// The vendor name a classic tester's vendor code stands for: "movira" gives
// "MOVIRA", the maker's identity gives the maker's OEM name, "tarsel" gives
// "TARSEL"; every other code (compared exactly) gives "".
std::string ClassicVendorName(std::string_view vendorCode);

// This program's version from a dotted version string (the project's
// version): four parts "a.b.c.d", missing parts 0 ("0.1.0" gives "0.1.0.0").
// Empty when the string is not one to four decimal parts of 0 to 65535.
std::string AppVersionText(std::string_view dotted);

// --- brand pictures -----------------------------------------------------------

enum class Brand { Default, Tarsel, Movira, Darmolen, Maker };

// Which names pick the maker's picture: the about dialog of the one-to-one
// and classic boards also takes "BORVANECO"; the Velmora5 and master board
// dialogs take only the maker's OEM name.
enum class LogoRules { AboutDialog, BoardDialog };

// The picture for a vendor name, by exact comparison; anything unknown (and
// the empty name) gives the default picture.
Brand BrandFor(std::string_view vendorName, LogoRules rules);
// The resource path of a picture (":/brand/....png").
const char* BrandPicturePath(Brand brand);

// --- one-to-one and classic boards (the about dialog) -------------------------

// The offline-display option as the check box holds it: 0 unticked, 1
// ticked, 2 partly ticked (the board's own third state); any other byte is
// taken as 0.
int OfflineCheckState(std::uint8_t offlineByte);

struct AboutInfo {
    std::string serialNumber;
    std::string deviceId;
    std::string author;
    std::string firmwareVersion;
    std::string firmwareDate;
    std::string logoText;
    std::string edition;
    std::string vendorName;
    int offlineDisplay = 0;       // check state, see OfflineCheckState
    bool optionEditable = false;  // the check box may be changed
    // OK sends the check box's state back to the board. False for the
    // classic tester (it has no such setting) and for a one-to-one board
    // whose offline byte did not come: sending would overwrite a setting
    // nobody has seen.
    bool sendsOffline = false;
};

// Reads a one-to-one board for the about dialog, in the board's order:
// serial number, device id, author, firmware version, day, month, year,
// feature flags, logo text, offline display, edition, and the vendor code
// only when no OEM name was recorded at connection.
AboutInfo ReadRunoffAbout(hiddata_simple_runoff& board, const std::string& oemName);
// Sends the offline-display byte (the check box's state) to a one-to-one
// board; true when the board took it.
bool WriteOfflineDisplay(hiddata_simple_runoff& board, int offlineDisplay);
// The about dialog of a classic tester, from what its connection read; no
// exchange with the board.
AboutInfo ClassicAbout(const ClassicTesterFields& fields);

// --- Velmora5 board ------------------------------------------------------------

// The layout record of head 1: byte 0 in use, byte 1 rows, byte 2 columns.
struct Velmora5LayoutRecord {
    std::uint8_t inUse = 0;
    std::uint8_t rows = 0;
    std::uint8_t columns = 0;
    friend bool operator==(const Velmora5LayoutRecord&, const Velmora5LayoutRecord&) = default;
};

struct Velmora5About {
    std::string vendorName;
    std::string deviceId;
    std::string firmwareVersion;
    std::string firmwareDate;
    // nullopt when head 1's page did not come: the dialog then offers no
    // layout to change and OK sends nothing.
    std::optional<Velmora5LayoutRecord> layout;
};

// Reads vendor code, device id, firmware version, day, month, year and the
// layout record, in that order.
Velmora5About ReadVelmora5About(hiddata_velmora5& board);
// Sends the layout record to head 1 (the three bytes, then 29 zeros).
bool WriteVelmora5Layout(hiddata_velmora5& board, const Velmora5LayoutRecord& layout);

// --- master board --------------------------------------------------------------

// Grid positions the master board dialog can hold (10 x 10); 255 marks a
// position without a head.
inline constexpr int kMaxHeadPositions = 100;
inline constexpr std::int32_t kNoHead = 255;
using HeadPositions = std::array<std::int32_t, kMaxHeadPositions>;

// The head of every grid position (row by row) of a rows x columns grid from
// the board's position map: the assigned head's number, or kNoHead for an
// unassigned position and every position after the 16th.
HeadPositions HeadsFromMap(const MasterPositionMap& map, int rows, int columns);

// The position map the dialog sends: for the first rows x columns positions,
// at most 16, entry k holds column c = k mod columns and row r = k div
// columns in byte 2k (c * 16 + r) and the head of position r * columns + c,
// marked assigned, in byte 2k + 1 (its low 8 bits with bit 7 set). Every
// other byte is 0.
MasterPositionMap BuildPositionMap(const HeadPositions& heads, int rows, int columns);

// The value of a cell's text: its leading decimal number (blanks and a sign
// allowed in front), 0 when it starts with none. Digits beyond the int32
// range wrap, so the low 8 bits that reach the board are those of the
// number typed.
std::int32_t LeadingNumber(std::string_view text);

struct MasterAbout {
    std::string vendorName;
    std::string deviceId;
    std::string firmwareVersion;
    std::string firmwareDate;
    // nullopt when the settings byte did not come: the check boxes are then
    // not offered and OK leaves the board's buzzer settings alone.
    std::optional<bool> buzzerOn;
    std::optional<bool> buzzerInverted;
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    HeadPositions heads{};
};

// Reads vendor code, device id, firmware version, day, month, year and the
// buzzer settings (twice: bit 7 of the first reply, bit 0 of the second),
// then takes the heads of the grid's rows x columns positions from the map
// the board object loaded at connection.
MasterAbout ReadMasterAbout(hiddata_masterHID& board, int rows, int columns);

// What OK of the master board dialog sends.
struct MasterLayout {
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    HeadPositions heads{};
    // nullopt: the buzzer settings are not written.
    std::optional<std::uint8_t> buzzer;
};

// Writes columns, rows (each its low 8 bits), the position map and the
// buzzer settings, in that order, then reloads the board object's map. True
// when every write and the reload went through.
bool WriteMasterLayout(hiddata_masterHID& board, const MasterLayout& layout);

}  // namespace kx
