// SPDX-License-Identifier: MIT
// Command-line probe: lists the HID devices the station sees on the real USB
// bus and on the simulated bus of software boards, and tells which board
// family each identity search opens. Useful at a line to check that a board
// is visible before the station is started.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "hid/classic_tester.h"
#include "hid/device_string.h"
#include "hid/firmware_text.h"
#include "hid/hidapi_bus.h"
#include "hid/hiddata_kestrun9.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "hid/maker_identity.h"
#include "sim/demo_bench.h"
#include "sim/sim_bus.h"

namespace {

// "none", or why a present board could not be opened.
std::string Absent(kx::OpenFailure why) {
    if (why == kx::OpenFailure::NotFound || why == kx::OpenFailure::None) {
        return "none";
    }
    return std::string("present but cannot be opened (") + kx::OpenFailureName(why) + ")";
}

std::string VersionText(const std::optional<std::uint16_t>& version) {
    return version ? kx::FirmwareVersionText(*version) : std::string("(no reply)");
}

void Usage() {
    std::printf(
        "usage: kaldrix-probe [--machine N] [--real | --sim]\n"
        "  --machine N  one-to-one machine number of the device-type menu (0 = standard, 1-5)\n"
        "  --real       only the real USB bus\n"
        "  --sim        only the simulated bus\n");
}

void ListDevices(kx::HidBus& bus) {
    const auto devices = bus.enumerate();
    std::printf("%s bus: %zu HID device interface(s)\n", bus.name(), devices.size());
    for (const auto& d : devices) {
        const std::string m = d.manufacturer ? kx::FoldDeviceString(*d.manufacturer) : "(none)";
        const std::string p = d.product ? kx::FoldDeviceString(*d.product) : "(none)";
        std::printf("  %-24s %04X:%04X  \"%s\" / \"%s\"\n", d.path.c_str(), d.vendor_id,
                    d.product_id, m.c_str(), p.c_str());
    }
}

void ProbeOneToOne(kx::HidBus& bus, int machine) {
    kx::hiddata_simple_runoff board(bus);
    // A row whose board is present but refused to open is what to report
    // when no row opens one.
    kx::OpenFailure refused = kx::OpenFailure::NotFound;
    for (kx::RunoffProbe row : kx::hiddata_simple_runoff::probe_order(machine)) {
        if (board.probe(row, machine) != 0) {
            if (refused == kx::OpenFailure::NotFound) {
                refused = board.last_open_failure();
            }
            continue;
        }
        const auto& id = kx::hiddata_simple_runoff::identity(row);
        std::printf("  one-to-one tester, machine %d: %s opened %s", machine, id.operation,
                    board.device_path().c_str());
        if (id.oem_name != nullptr) {
            std::printf(" (OEM %s)", id.oem_name);
        }
        const auto values = board.read_values();
        if (values) {
            std::printf("\n    channels 0-7:");
            for (int k = 0; k < 8; ++k) {
                std::printf(" %u", (*values)[static_cast<std::size_t>(k)]);
            }
            std::printf("\n");
        } else {
            std::printf("\n    no reply to the live-value query\n");
        }
        return;
    }
    std::printf("  one-to-one tester, machine %d: %s\n", machine, Absent(refused).c_str());
}

void ProbeClassic(kx::HidBus& bus) {
    kx::CClassicTester classic(bus);
    if (classic.open_board() != 0) {
        std::printf("  classic tester: %s\n", Absent(classic.last_open_failure()).c_str());
        return;
    }
    const auto info = classic.read_firmware_info();
    if (!info) {
        std::printf("  classic tester: opened %s, no reply to the firmware query\n",
                    classic.device_path().c_str());
        return;
    }
    const auto fw = kx::DecodeFirmwareInfo(*info);
    std::printf("  classic tester: opened %s, firmware %s of %s\n", classic.device_path().c_str(),
                fw.version_text().c_str(), fw.date_text().c_str());
}

void ProbeKestrun9(kx::HidBus& bus) {
    kx::hiddata_kestrun9 kestrun9(bus);
    if (kestrun9.open_board(0) == 0) {
        std::printf("  Kestrun9 board: present at %s (recognised, not driven)\n",
                    kestrun9.device_path().c_str());
    } else {
        std::printf("  Kestrun9 board: %s\n", Absent(kestrun9.last_open_failure()).c_str());
    }
}

void ProbeVelmora5(kx::HidBus& bus) {
    kx::hiddata_velmora5 board(bus);
    kx::OpenFailure refused = kx::OpenFailure::NotFound;
    for (const kx::Velmora5IdentityRow& row : kx::hiddata_velmora5::identity_table()) {
        if (board.probe(row.probe) != 0) {
            if (refused == kx::OpenFailure::NotFound) {
                refused = board.last_open_failure();
            }
            continue;
        }
        std::printf("  Velmora5 board: %s (\"%s\") opened %s, firmware %s\n", row.operation,
                    row.manufacturer, board.device_path().c_str(),
                    VersionText(board.read_firmware_version()).c_str());
        const auto page = board.read_channel_modes(kx::hiddata_velmora5::kLayoutHead);
        const auto layout = page ? kx::DecodeVelmora5Layout(*page) : std::nullopt;
        if (!page) {
            std::printf("    no reply to the layout query\n");
        } else if (layout) {
            std::printf("    layout %d x %d heads\n", layout->rows, layout->columns);
        } else {
            std::printf("    layout not in use\n");
        }
        return;
    }
    std::printf("  Velmora5 board: %s\n", Absent(refused).c_str());
}

void ProbeMaster(kx::HidBus& bus) {
    kx::hiddata_masterHID board(bus);
    if (board.open_board() != 0) {
        std::printf("  master board: %s\n", Absent(board.last_open_failure()).c_str());
        return;
    }
    const int heads = board.probe_heads();
    const bool map_read = board.load_position_map();
    const int rows = board.read_rows().value_or(0);
    const int columns = board.read_columns().value_or(0);
    std::printf("  master board: open_board (\"%s\") opened %s, firmware %s\n", kx::kMakerIdentity,
                board.device_path().c_str(), VersionText(board.read_firmware_version()).c_str());
    if (!map_read) {
        std::printf("    no reply to the position-map query\n");
    }
    std::printf("    %d head(s) answer; grid %d x %d; map:", heads, rows, columns);
    for (int position = 0; position < rows * columns && position < kx::kMasterMapPositions;
         ++position) {
        const auto head = board.position_head(position);
        if (head) {
            std::printf(" %d->head %d", position, *head);
        } else {
            std::printf(" %d->none", position);
        }
    }
    std::printf("\n");
}

void Probe(kx::HidBus& bus, int machine) {
    ListDevices(bus);
    ProbeOneToOne(bus, machine);
    ProbeClassic(bus);
    ProbeKestrun9(bus);
    ProbeVelmora5(bus);
    ProbeMaster(bus);
}

}  // namespace

int main(int argc, char** argv) {
    int machine = 0;
    bool real = true;
    bool sim = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long m = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || m < 0 || m > 5) {
                std::fprintf(stderr, "kaldrix-probe: machine must be 0 to 5\n");
                return 2;
            }
            machine = static_cast<int>(m);
        } else if (std::strcmp(argv[i], "--real") == 0) {
            sim = false;
        } else if (std::strcmp(argv[i], "--sim") == 0) {
            real = false;
        } else {
            Usage();
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }

    if (real) {
        kx::HidapiBus bus;
        if (!bus.ok()) {
            std::fprintf(stderr, "kaldrix-probe: the USB HID library could not start\n");
        }
        Probe(bus, machine);
    }
    if (sim) {
        kx::sim::SimBus bus;
        kx::sim::PlugDemoBoards(bus);
        Probe(bus, machine);
    }
    return 0;
}
