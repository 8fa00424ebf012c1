// SPDX-License-Identifier: MIT
#include "sim/demo_bench.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "hid/hiddata_simple_runoff.h"
#include "hid/maker_identity.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"

namespace kx::sim {

namespace {

// A master board with four heads on a 2 x 2 grid, numbered so that board
// head and grid position differ.
std::shared_ptr<SimMasterBoard> DemoMasterBoard() {
    auto board = std::make_shared<SimMasterBoard>(kMakerIdentity, 7);
    board->set_present_heads({1, 4, 6, 9});
    board->assign(0, 0, 0, 1);
    board->assign(1, 0, 1, 4);
    board->assign(2, 1, 0, 6);
    board->assign(3, 1, 1, 9);
    board->edit([](MasterMemory& m) {
        m.rows = 2;
        m.columns = 2;
    });
    board->set_value(4, 12, 1300);  // above its upper limit: one head fails
    return board;
}

}  // namespace

std::vector<std::shared_ptr<SimBoard>> PlugDemoBoards(SimBus& bus) {
    std::vector<std::shared_ptr<SimBoard>> boards;
    boards.push_back(std::make_shared<SimRunoffBoard>(kMakerIdentity));
    boards.push_back(std::make_shared<SimClassicBoard>());
    // Recognised by the station, never driven.
    boards.push_back(std::make_shared<SimKestrun9Board>(0));
    boards.push_back(std::make_shared<SimVelmora5Board>(kMakerIdentity));
    boards.push_back(DemoMasterBoard());
    for (const auto& b : boards) {
        bus.plug(b);
    }
    return boards;
}

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// A side of a master grid: 1 to kDemoMasterMaxSide, digits only.
std::optional<int> ParseSide(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || at != end || value < 1 || value > kDemoMasterMaxSide) {
        return std::nullopt;
    }
    return value;
}

bool KnownOneToOneManufacturer(const std::string& text) {
    for (const RunoffIdentityRow& row : hiddata_simple_runoff::identity_table()) {
        for (int machine = 0; machine <= hiddata_simple_runoff::kMaxMachine; ++machine) {
            if (hiddata_simple_runoff::manufacturer_for(row.probe, machine) == text) {
                return true;
            }
        }
    }
    return false;
}

// Board head of a master map position: all different, and not the position
// itself, as on a real board whose heads were wired in any order.
int DemoMasterHead(int position) {
    return (position * 5 + 1) % 32;
}

}  // namespace

std::optional<DemoBoardChoice> ParseDemoBoard(std::string_view text, std::string& error) {
    const std::size_t colon = text.find(':');
    const std::string family = Lower(text.substr(0, colon));
    const bool hasArgument = colon != std::string_view::npos;
    const std::string_view argument = hasArgument ? text.substr(colon + 1) : std::string_view();
    DemoBoardChoice choice;
    if (family == "one-to-one") {
        choice.family = FamilyId::OneToOne;
        choice.manufacturer = hasArgument ? std::string(argument) : kDemoOneToOneManufacturer;
        if (!KnownOneToOneManufacturer(choice.manufacturer)) {
            error = "no one-to-one identity row has the manufacturer string \"" +
                    choice.manufacturer +
                    "\" (examples: ravuno-demo, TARSEL, TARSEL_DEV2, VERSION3-1, borvane)";
            return std::nullopt;
        }
        return choice;
    }
    if (family == "master") {
        choice.family = FamilyId::Master;
        if (hasArgument) {
            const std::size_t x = Lower(argument).find('x');
            const std::optional<int> columns =
                x == std::string_view::npos ? std::nullopt : ParseSide(argument.substr(0, x));
            const std::optional<int> rows =
                x == std::string_view::npos ? std::nullopt : ParseSide(argument.substr(x + 1));
            if (!columns || !rows) {
                error = "a master board's grid is COLUMNSxROWS, each 1 to 10 (\"" +
                        std::string(argument) + "\")";
                return std::nullopt;
            }
            choice.columns = *columns;
            choice.rows = *rows;
        }
        return choice;
    }
    if (family == "velmora5" || family == "classic") {
        if (hasArgument) {
            error = family + " takes no argument";
            return std::nullopt;
        }
        choice.family = family == "velmora5" ? FamilyId::Velmora5 : FamilyId::Classic;
        return choice;
    }
    error = "unknown board family \"" + std::string(text.substr(0, colon)) +
            "\" (one-to-one, velmora5, master, classic)";
    return std::nullopt;
}

TouchPattern DemoTouches(int heads) {
    TouchPattern touches;
    touches.meanGap = std::chrono::milliseconds(3000) * std::max(1, heads / 2);
    touches.pressTime = std::chrono::milliseconds(700);
    touches.rise = kDemoTouchRise;
    return touches;
}

std::shared_ptr<SimBoard> MakeDemoBoard(const DemoBoardChoice& choice, DemoSignal signal) {
    const bool live = signal == DemoSignal::Live;
    // Every family measures alike: noise on a live board, touches rarer the
    // more heads it has.
    const auto measuring = [live](auto board, int heads) -> std::shared_ptr<SimBoard> {
        board->set_noise(live ? kDemoNoise : 0);
        if (live) {
            board->set_touches(DemoTouches(heads));
        }
        return board;
    };
    switch (choice.family) {
        case FamilyId::OneToOne:
            return measuring(std::make_shared<SimRunoffBoard>(choice.manufacturer), 1);
        case FamilyId::Velmora5:
            return measuring(std::make_shared<SimVelmora5Board>(kMakerIdentity), 4);
        case FamilyId::Master: {
            auto board = std::make_shared<SimMasterBoard>(kMakerIdentity);
            const int positions = std::min(choice.columns * choice.rows, 16);
            board->edit([&](MasterMemory& m) {
                m.columns = static_cast<std::uint8_t>(choice.columns);
                m.rows = static_cast<std::uint8_t>(choice.rows);
                m.present = 0;
                for (int p = 0; p < positions; ++p) {
                    m.present |= 1u << DemoMasterHead(p);
                }
            });
            for (int p = 0; p < positions; ++p) {
                board->assign(p, p / choice.columns, p % choice.columns, DemoMasterHead(p));
            }
            return measuring(board, positions);
        }
        case FamilyId::Classic:
            return measuring(std::make_shared<SimClassicBoard>(), 1);
        case FamilyId::None:
            break;
    }
    return nullptr;
}

}  // namespace kx::sim
