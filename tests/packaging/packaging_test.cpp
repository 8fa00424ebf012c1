// SPDX-License-Identifier: MIT
// What packaging/ installs beside the program: the udev rule checked against
// the identity tables of every board family, the rule's name against the
// station's no-permission message, and the menu entry against its icon.

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "hid/classic_tester.h"
#include "hid/hiddata_kestrun9.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "station/station_core.h"

namespace kx {
namespace {

const std::string kPackaging = KX_PACKAGING_DIR;
const std::string kRuleName = "70-kaldrixplus.rules";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

using Identity = std::pair<std::uint16_t, std::uint16_t>;

// Four lower-case hex digits at `at`, or -1.
long LowerHex4(const std::string& text, std::size_t at) {
    if (at + 4 > text.size()) {
        return -1;
    }
    long value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const char c = text[i];
        const bool digit = c >= '0' && c <= '9';
        if (!digit && !(c >= 'a' && c <= 'f')) {
            return -1;
        }
        value = value * 16 + (digit ? c - '0' : c - 'a' + 10);
    }
    return value;
}

// The identity a grant line gives, or nullopt when the line is not one of
// the exact form
//   KERNEL=="hidraw*", ATTRS{idVendor}=="vvvv", ATTRS{idProduct}=="pppp",
//   GROUP="plugdev", MODE="0660", TAG+="uaccess"
// (on one line): the user at the seat and, on a PC without seat sessions, the
// members of plugdev may open the node; nobody else may.
std::optional<Identity> ParseGrant(const std::string& line) {
    const std::string head = R"(KERNEL=="hidraw*", ATTRS{idVendor}==")";
    const std::string middle = R"(", ATTRS{idProduct}==")";
    const std::string tail = R"(", GROUP="plugdev", MODE="0660", TAG+="uaccess")";
    const std::size_t vendorAt = head.size();
    const std::size_t productAt = vendorAt + 4 + middle.size();
    if (line.size() != productAt + 4 + tail.size() || line.compare(0, head.size(), head) != 0 ||
        line.compare(vendorAt + 4, middle.size(), middle) != 0 ||
        line.compare(productAt + 4, tail.size(), tail) != 0) {
        return std::nullopt;
    }
    const long vendor = LowerHex4(line, vendorAt);
    const long product = LowerHex4(line, productAt);
    if (vendor < 0 || product < 0) {
        return std::nullopt;
    }
    return Identity(static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product));
}

// Every vendor and product id pair the rule grants; a line that is neither a
// comment nor such a grant fails the test.
std::set<Identity> GrantedIdentities() {
    std::set<Identity> granted;
    std::istringstream lines(ReadFile(kPackaging + "/" + kRuleName));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::optional<Identity> identity = ParseGrant(line);
        if (!identity) {
            ADD_FAILURE() << "not a grant of the expected form: " << line;
            continue;
        }
        granted.insert(*identity);
    }
    return granted;
}

TEST(UdevRule, GrantsEveryIdentityOfEveryFamily) {
    std::set<std::pair<Identity, std::string>> needed = {
        {{hiddata_simple_runoff::kVendorId, hiddata_simple_runoff::kProductId}, "one-to-one"},
        {{hiddata_masterHID::kVendorId, hiddata_masterHID::kProductId}, "master"},
        {{CClassicTester::kVendorId, CClassicTester::kProductId}, "classic"},
        {{hiddata_kestrun9::kVendorId, hiddata_kestrun9::kProductId}, "Kestrun9"},
    };
    for (const Velmora5IdentityRow& row : hiddata_velmora5::identity_table()) {
        needed.insert({{row.vendor_id, row.product_id}, std::string("Velmora5 ") + row.operation});
    }
    const std::set<Identity> granted = GrantedIdentities();
    for (const auto& [identity, family] : needed) {
        EXPECT_EQ(granted.count(identity), 1u)
            << family << " " << std::hex << identity.first << ":" << identity.second;
    }
    // Nothing granted that no family needs.
    for (const Identity& identity : granted) {
        bool used = false;
        for (const auto& n : needed) {
            used = used || n.first == identity;
        }
        EXPECT_TRUE(used) << std::hex << identity.first << ":" << identity.second;
    }
}

TEST(UdevRule, NameSortsBeforeTheSeatRulesAndTheStationNamesIt) {
    // uaccess is applied by 73-seat-late.rules: a tag set later is too late.
    EXPECT_LT(kRuleName, std::string("73-seat-late.rules"));
    const std::string message = OpenRefusalMessage(OpenFailure::NoPermission, "Orvane");
    EXPECT_NE(message.find(kRuleName), std::string::npos) << message;
    EXPECT_NE(message.find(std::string(KX_UDEV_RULES_DIR)), std::string::npos)
        << "the message and cmake --install name different folders: " << message;
    // Without a seat session the rule's group is the way in: the message
    // names the group the rule gives the node to.
    EXPECT_NE(message.find("plugdev"), std::string::npos) << message;
}

// The form the grant lines are held to: a line that leaves out the group or
// the mode, or opens the node to everybody, is not a grant.
TEST(UdevRule, OnlyTheExactGrantFormCounts) {
    const std::string ids =
        R"(KERNEL=="hidraw*", ATTRS{idVendor}=="16a0", ATTRS{idProduct}=="05df", )";
    const struct {
        std::string line;
        bool grant;
    } cases[] = {
        {ids + R"(GROUP="plugdev", MODE="0660", TAG+="uaccess")", true},
        {ids + R"(TAG+="uaccess")", false},
        {ids + R"(MODE="0660", TAG+="uaccess")", false},
        {ids + R"(GROUP="plugdev", TAG+="uaccess")", false},
        {ids + R"(GROUP="plugdev", MODE="0666", TAG+="uaccess")", false},
        {ids + R"(GROUP="plugdev", MODE="0660")", false},
        {R"(KERNEL=="hidraw*", ATTRS{idVendor}=="16A0", ATTRS{idProduct}=="05df", )"
         R"(GROUP="plugdev", MODE="0660", TAG+="uaccess")",
         false},
    };
    for (const auto& c : cases) {
        const std::optional<Identity> identity = ParseGrant(c.line);
        EXPECT_EQ(identity.has_value(), c.grant) << c.line;
        if (identity) {
            EXPECT_EQ(*identity, Identity(0x16a0, 0x05df));
        }
    }
}

TEST(DesktopEntry, StartsTheProgramWithItsIcon) {
    const std::string entry = ReadFile(kPackaging + "/kaldrixplus.desktop");
    EXPECT_NE(entry.find("\nExec=kaldrixplus\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=kaldrixplus\n"), std::string::npos);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
    // The installed icon is the window's own.
    EXPECT_EQ(ReadFile(kPackaging + "/kaldrixplus.png"),
              ReadFile(std::string(KX_RESOURCES_DIR) + "/icons/kaldrix.png"));
}

}  // namespace
}  // namespace kx
