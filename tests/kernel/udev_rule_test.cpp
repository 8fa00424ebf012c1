// SPDX-License-Identifier: MIT
// The udev rule the station ships (packaging/70-kaldrixplus.rules) on a real
// udev: the hidraw node of every board identity the station opens carries the
// uaccess tag, so that the user at the seat may open it; the node of another
// maker's HID device does not. uaccess itself (the ACL for the user of the
// active seat) needs a logged-in seat, which the guest has not: the tag is
// what is checked.

#include <gtest/gtest.h>
#include <libudev.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hid/classic_tester.h"
#include "hid/hiddata_kestrun9.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "hid/maker_identity.h"
#include "sim/sim_board.h"
#include "sim/usb_gadget_board.h"
#include "tests/kernel/kernel_fixture.h"

namespace kx {
namespace {

struct Identity {
    std::uint16_t vendor_id;
    std::uint16_t product_id;
    std::string manufacturer;
    std::string product;

    friend bool operator==(const Identity&, const Identity&) = default;
    std::string Describe() const {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", vendor_id, product_id);
        return std::string(ids) + " \"" + manufacturer + "\" \"" + product + "\"";
    }
};

// Every four-part identity some probe of the station opens, from the
// families' own tables: a row added there is checked here too.
std::vector<Identity> KnownBoardIdentities() {
    std::vector<Identity> all;
    const auto add = [&all](Identity id) {
        if (std::find(all.begin(), all.end(), id) == all.end()) {
            all.push_back(std::move(id));
        }
    };
    using Runoff = hiddata_simple_runoff;
    for (const RunoffIdentityRow& row : Runoff::identity_table()) {
        for (int machine = 0; machine <= Runoff::kMaxMachine; ++machine) {
            if (auto m = Runoff::manufacturer_for(row.probe, machine)) {
                add({Runoff::kVendorId, Runoff::kProductId, *m, Runoff::kProduct});
            }
        }
    }
    for (const Velmora5IdentityRow& row : hiddata_velmora5::identity_table()) {
        add({row.vendor_id, row.product_id, row.manufacturer, hiddata_velmora5::kProduct});
    }
    add({hiddata_masterHID::kVendorId, hiddata_masterHID::kProductId, kMakerIdentity,
         hiddata_masterHID::kProduct});
    add({CClassicTester::kVendorId, CClassicTester::kProductId, kMakerIdentity,
         CClassicTester::kProduct});
    for (int i = 0; i < hiddata_kestrun9::kIdentityCount; ++i) {
        add({hiddata_kestrun9::kVendorId, hiddata_kestrun9::kProductId, kMakerIdentity,
             hiddata_kestrun9::product_string(i)});
    }
    return all;
}

// A device with an identity and nothing behind it: udev sees only the
// identity.
class IdentityOnly : public sim::SimBoard {
public:
    explicit IdentityOnly(const Identity& id)
        : SimBoard(
              {id.vendor_id, id.product_id, sim::ToU16(id.manufacturer), sim::ToU16(id.product)}) {}
    const char* family() const override { return "identity only"; }

protected:
    void on_output(const Frame&) override {}
};

constexpr const char* kInstalledRule = "/etc/udev/rules.d/70-kaldrixplus.rules";

class UdevRule : public kernel::GadgetBusTest {
protected:
    void TearDown() override {
        if (std::filesystem::remove(kInstalledRule)) {
            kernel::RunCommand("udevadm control --reload");
        }
        GadgetBusTest::TearDown();
    }
};

// udev's tags of a node (":uaccess:seat:"), from udev's database as
// `udevadm info` shows them; read through libudev, since a udevadm process
// per node costs a good part of a second in the emulated guest.
std::string Tags(const std::string& node) {
    struct stat st {};
    if (stat(node.c_str(), &st) != 0) {
        return {};
    }
    udev* u = udev_new();
    if (u == nullptr) {
        return {};
    }
    std::string tags;
    if (udev_device* d = udev_device_new_from_devnum(u, 'c', st.st_rdev)) {
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_device_get_tags_list_entry(d)) {
            tags.append(":").append(udev_list_entry_get_name(entry));
        }
        if (!tags.empty()) {
            tags.append(":");
        }
        udev_device_unref(d);
    }
    udev_unref(u);
    return tags;
}

// The same from `udevadm info`, for one node: what an operator's technician
// would look at.
std::string UdevadmTags(const std::string& node) {
    const kernel::CommandResult r =
        kernel::RunCommand("udevadm info --query=property --name=" + node + " 2>&1");
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("TAGS=", 0) == 0) {
            return line.substr(5);
        }
    }
    return {};
}

TEST_F(UdevRule, TagsTheNodeOfEveryBoardIdentityForTheUserAtTheSeat) {
    const std::filesystem::path rule =
        std::filesystem::path(KX_SOURCE_DIR) / "packaging" / "70-kaldrixplus.rules";
    // The rule is part of the tree: not finding it means the guest does not
    // see the source tree at the path the build baked in, never a reason to
    // skip.
    ASSERT_TRUE(std::filesystem::exists(rule))
        << rule << " is not seen in the guest: is the source tree shared with it?";
    std::filesystem::copy_file(rule, kInstalledRule,
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(kernel::RunCommand("udevadm control --reload").status, 0);

    struct Case {
        Identity identity;
        bool tagged;
    };
    std::vector<Case> cases;
    for (const Identity& id : KnownBoardIdentities()) {
        cases.push_back({id, true});
    }
    cases.push_back({{0x046D, 0xC077, "Logitech", "USB Optical Mouse"}, false});
    std::printf("%zu identities\n", cases.size());

    // As many at once as there are controllers.
    for (std::size_t first = 0; first < cases.size(); first += kernel::kControllers) {
        const std::size_t end = std::min(cases.size(), first + kernel::kControllers);
        std::vector<std::unique_ptr<sim::UsbGadgetBoard>> gadgets;
        std::vector<sim::UsbGadgetBoard*> plugged;
        for (std::size_t i = first; i < end; ++i) {
            gadgets.push_back(std::make_unique<sim::UsbGadgetBoard>(
                std::make_shared<IdentityOnly>(cases[i].identity)));
            plugged.push_back(gadgets.back().get());
        }
        const std::vector<std::string> nodes = PlugAll(plugged);
        ASSERT_EQ(nodes.size(), plugged.size());
        if (first == 0) {
            EXPECT_NE(UdevadmTags(nodes[0]).find(":uaccess:"), std::string::npos)
                << cases[0].identity.Describe();
        }
        for (std::size_t i = first; i < end; ++i) {
            const std::string& node = nodes[i - first];
            const std::string tags = Tags(node);
            EXPECT_EQ(tags.find(":uaccess:") != std::string::npos, cases[i].tagged)
                << cases[i].identity.Describe() << " on " << node << ": tags \"" << tags << "\"";
        }
        for (std::size_t g = 0; g < gadgets.size(); ++g) {
            Unplug(*gadgets[g], nodes[g]);
        }
    }
}

}  // namespace
}  // namespace kx
