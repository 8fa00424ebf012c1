// Command-line probe: lists the HID devices the station sees on the real USB
// bus and on the simulated bus of software boards, and tells which board
// family each identity search opens. Useful at a line to check that a board
// is visible before the station is started.

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    for (kx::RunoffProbe row : kx::hiddata_simple_runoff::probe_order(machine)) {
        if (board.probe(row, machine) != 0) {
            continue;
        }
        const auto& id = kx::hiddata_simple_runoff::identity(row);
        std::printf("  one-to-one tester, machine %d: %s opened %s", machine, id.operation,
                    board.device_path().c_str());
        if (id.oem_name != nullptr) {
            std::printf(" (OEM %s)", id.oem_name);
        }
        const auto values = board.read_values();
        std::printf("\n    channels 0-7:");
        for (int k = 0; k < 8; ++k) {
            std::printf(" %u", values[static_cast<std::size_t>(k)]);
        }
        std::printf("\n");
        return;
    }
    std::printf("  one-to-one tester, machine %d: none\n", machine);
}

void ProbeClassic(kx::HidBus& bus) {
    kx::CClassicTester classic(bus);
    if (classic.open_board() != 0) {
        std::printf("  classic tester: none\n");
        return;
    }
    const auto fw = kx::DecodeFirmwareInfo(classic.read_firmware_info());
    std::printf("  classic tester: opened %s, firmware %s of %s\n", classic.device_path().c_str(),
                fw.version_text().c_str(), fw.date_text().c_str());
}

void ProbeKestrun9(kx::HidBus& bus) {
    kx::hiddata_kestrun9 kestrun9(bus);
    if (kestrun9.open_board(0) == 0) {
        std::printf("  Kestrun9 board: present at %s (recognised, not driven)\n",
                    kestrun9.device_path().c_str());
    } else {
        std::printf("  Kestrun9 board: none\n");
    }
}

void ProbeVelmora5(kx::HidBus& bus) {
    kx::hiddata_velmora5 board(bus);
    for (const kx::Velmora5IdentityRow& row : kx::hiddata_velmora5::identity_table()) {
        if (board.probe(row.probe) != 0) {
            continue;
        }
        std::printf("  Velmora5 board: %s (\"%s\") opened %s, firmware %s\n", row.operation,
                    row.manufacturer, board.device_path().c_str(),
                    kx::FirmwareVersionText(board.read_firmware_version()).c_str());
        const auto layout =
            kx::DecodeVelmora5Layout(board.read_channel_modes(kx::hiddata_velmora5::kLayoutHead));
        if (layout) {
            std::printf("    layout %d x %d heads\n", layout->rows, layout->columns);
        } else {
            std::printf("    layout not in use\n");
        }
        return;
    }
    std::printf("  Velmora5 board: none\n");
}

void ProbeMaster(kx::HidBus& bus) {
    kx::hiddata_masterHID board(bus);
    if (board.open_board() != 0) {
        std::printf("  master board: none\n");
        return;
    }
    const int heads = board.probe_heads();
    board.load_position_map();
    const int rows = board.read_rows();
    const int columns = board.read_columns();
    std::printf("  master board: open_board (\"%s\") opened %s, firmware %s\n", kx::kMakerIdentity,
                board.device_path().c_str(),
                kx::FirmwareVersionText(board.read_firmware_version()).c_str());
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
