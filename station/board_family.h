// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/page_table.h"
#include "grid/grid_model.h"
#include "hid/family_id.h"
#include "hid/hid_bus.h"
#include "hid/hiddata.h"
#include "records/test_record.h"

namespace kx {

// One entry of the device-type menu: standard, machine 1, ..., machine 5.
struct TypeItem {
    std::uint8_t checked = 0;
    std::uint8_t available = 1;
    friend bool operator==(const TypeItem&, const TypeItem&) = default;
};
inline constexpr int kDeviceTypes = 6;
using TypeItems = std::array<TypeItem, kDeviceTypes>;

// The checked device type (0 standard, 1 to 5 machine n), the first when
// several are; nullopt when none is.
inline std::optional<int> CheckedDeviceType(const TypeItems& items) {
    for (int type = 0; type < kDeviceTypes; ++type) {
        if (items[static_cast<std::size_t>(type)].checked != 0) {
            return type;
        }
    }
    return std::nullopt;
}

// The first board seen during one connection that is there but could not be
// opened, and the name of its family.
struct OpenRefusal {
    OpenFailure failure = OpenFailure::NotFound;
    std::string family;

    // Notes `board`'s last open failure, unless one was noted before.
    void Note(const hiddata& board, const char* familyName);
    bool Seen() const { return failure != OpenFailure::NotFound; }
};

// What a board family uses of the station it belongs to (the station core
// implements it). The worker's calls (step) and the user-interface thread's
// calls (connection, settings) never overlap on the page epochs: the worker
// is stopped while a family is set up.
class FamilyHost {
public:
    virtual GridModel& Grid() = 0;
    // The station's page table (any thread, each page under its lock).
    virtual PageStore& Pages() = 0;
    // The device-type menu (user-interface thread).
    virtual const TypeItems& DeviceTypes() const = 0;
    virtual void SetTypesAvailable(bool available) = 0;
    // The one-to-one buzzer menu flags (any thread).
    virtual bool BuzzerOn() const = 0;
    virtual bool BuzzerInverted() const = 0;
    // The grid's data epoch at the page's last good read; 0 for no data.
    virtual void SetPageEpoch(int page, std::uint32_t epoch) = 0;
    // Hands every head of the grid its page (end of a step's reads).
    virtual void HandOverPages() = 0;
    // After a step's exchanges: a board that lost its handle asks for a
    // connection.
    virtual void CheckLost(hiddata& board) = 0;
    // Pages whose head did not answer its last read, and the step's new set.
    virtual std::uint64_t SilentPageBits() const = 0;
    virtual void NoteSilentPages(std::uint64_t pages) = 0;

protected:
    ~FamilyHost() = default;
};

// One board family: its protocol objects, how the station finds, sets up,
// polls, writes and switches off its board, and the loop state it keeps
// between steps. A family is made for one station (FamilyTable) and lives
// as long as it.
//
// Threads. Probe, SetUp, ClearReady, the settings reads and writes and
// SwitchOff run on the user-interface thread; Step and ForgetData on the
// worker (ForgetData also on the user-interface thread while no worker
// runs). Present is read from both. CancelWaits may be called from any
// thread to make a step that waits for a silent board give up.
class BoardFamily {
public:
    virtual ~BoardFamily() = default;
    BoardFamily(const BoardFamily&) = delete;
    BoardFamily& operator=(const BoardFamily&) = delete;

    virtual FamilyId Id() const = 0;
    // The family's one name in every message for the operator.
    virtual const char* Name() const = 0;
    // The window's title while this family is in use.
    virtual const char* Title() const = 0;

    // --- connection -------------------------------------------------------------

    // Looks for the family's board and opens it; notes in `refusal` a board
    // that is there but could not be opened. Sets Present.
    virtual void Probe(OpenRefusal& refusal) = 0;
    // While no board of the family is open: the device type (0 standard,
    // 1 to 5 machine n) of a board of the family that is plugged in but
    // answers only for a type other than `checkedType`, found without
    // opening anything; nullopt for none (and for families that do not go
    // by the device type).
    virtual std::optional<int> OtherDeviceType(int /*checkedType*/) const { return std::nullopt; }
    // A board of the family is open (the result of the last Probe).
    bool Present() const { return present_.load(); }
    // How the device-type menu is to be while the family is in use; nullopt
    // leaves it as it is.
    virtual std::optional<bool> DeviceTypesAvailable() const { return std::nullopt; }
    // The family has been set up since it was last cleared.
    virtual bool Ready() const = 0;
    virtual void ClearReady() = 0;
    // Sets the family up as the one in use (the worker is stopped and the
    // page data forgotten): the grid's size, the board's settings into the
    // page table. False when the board missed a reply.
    virtual bool SetUp() = 0;

    // The board in use as the test records name it: the family's name, the
    // USB strings of its first open board, and the firmware version and
    // serial number when the family read them at its set-up (otherwise
    // empty). The machine type is the station's to fill in. Same thread as
    // SetUp.
    virtual BoardInfo Describe();

    // --- acquisition ------------------------------------------------------------

    // One step of the family in use: live values into the page table, the
    // pages handed over (FamilyHost::HandOverPages), the board's outputs
    // from the grid's judgement.
    virtual void Step() = 0;
    // Forgets the loop state that belongs to the data of a set-up (a family
    // set up afresh, a disconnection).
    virtual void ForgetData() {}

    // --- settings ---------------------------------------------------------------

    // Board -> page table; false at the first missed reply.
    virtual bool ReadSettings() = 0;
    // Page table -> board, one page of a configuration load; false at the
    // first missed reply.
    virtual bool WritePage(int page) = 0;
    // The page the operator edited (baseline command) -> board.
    virtual bool WriteEditedPage(int page) { return WritePage(page); }

    // --- closing and cancelling -------------------------------------------------

    // After the worker has stopped for good: the board's outputs off.
    virtual void SwitchOff() {}
    void CancelWaits(bool cancel);
    // The device at `path` went away: nothing owed to it is sent to a board
    // plugged in again.
    void ForgetOwed(const std::string& path);

protected:
    explicit BoardFamily(FamilyHost& host) : host_(host) {}
    // Every protocol object of the family.
    virtual std::vector<hiddata*> Boards() = 0;
    // A step's read of one page's live values: kept, with the grid's data
    // epoch at the read, when they came and the step stayed in step;
    // otherwise nothing is stored and the page has no data until its next
    // good read.
    void StoreStepValues(int page, const std::optional<Words>& values, bool inStep,
                         std::uint32_t epoch);

    FamilyHost& host_;
    std::atomic<bool> present_{false};
};

}  // namespace kx
