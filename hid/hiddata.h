#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/section_lock.h"
#include "hid/hid_bus.h"
#include "hid/wire.h"

namespace kx {

// Base of every board family: finds one device by its four-part identity and
// moves 65-byte reports and feature reports. It knows nothing of commands.
//
// Transfers report no errors. A read that gets no reply leaves `report` as it
// was, so a silent board's values freeze instead of failing. Reads are
// bounded (kReadBoundMs). The replies carry no echo of their command, so
// after a read gave up, the next exchange first waits up to the same bound
// for the late reply and discards it: a reply up to twice the bound late is
// never taken as the answer to the next command, and a reply the board never
// sends costs one wait, not the sync of every later exchange.
//
// `lock` is held for every call on the handle (the platform handle is not
// safe for two threads at once); it is re-entrant, so a family's operation
// takes it for the whole exchange and the transfers take it again inside.
class hiddata {
public:
    static constexpr int kReadBoundMs = 100;
    static constexpr std::size_t kMaxIdentityChars = 254;

    hiddata(HidBus& bus, const char* family);
    virtual ~hiddata();
    hiddata(const hiddata&) = delete;
    hiddata& operator=(const hiddata&) = delete;

    // Opens the first device in enumeration order whose vendor id, product
    // id, manufacturer string and product string all match (strings compared
    // exactly, after folding). Note the order: product id first. Returns 0
    // when a device was opened, 1 when none matched (the object is then
    // closed). The handle it replaces is closed.
    int open(std::uint16_t product_id, std::uint16_t vendor_id, std::string_view manufacturer,
             std::string_view product);

    // One input report into `report`; after a timeout or a failure `report`
    // keeps its previous content.
    std::uint8_t* read_report();
    void write_report(const std::uint8_t* frame);
    // Feature report 0 into `report` (byte 0 set to 0); a failure leaves the
    // rest of `report` as it was.
    std::uint8_t* get_feature_report();
    void set_feature_report(const std::uint8_t* frame);

    bool is_open() const;
    const char* family() const { return family_; }
    // Bus path of the open device, empty when closed.
    std::string device_path() const;

protected:
    // The exchange shapes of the interrupt-pipe families. Each begins by
    // discarding input reports already waiting (after a read that gave up,
    // waiting for its late reply first), so that the read that follows the
    // command gets the command's own reply.
    void begin_exchange();
    // Query: the command report, then one input report.
    const Frame& exchange_query(const Frame& command);
    // Set: the command report, the second report, then one input report read
    // and discarded.
    void exchange_set(const Frame& command, const Frame& second);
    // A query of the plain command report of `code`, decoded at one place.
    std::uint16_t query_be16(std::uint8_t code, std::size_t pos);
    std::uint8_t query_byte(std::uint8_t code, std::size_t pos);
    std::string query_text(std::uint8_t code, std::size_t pos, std::size_t length);
    // A set of the plain command report of `code` whose second report carries
    // the low 16 bits of `value`, big-endian, at `pos`.
    void set_be16(std::uint8_t code, std::size_t pos, std::int32_t value);

    Frame report{};
    std::unique_ptr<HidHandle> device;
    mutable CSectionLock lock;

private:
    void discard_waiting_input(int first_wait_ms);
    // The caller's frame with report ID 0, traced under `tag`.
    Frame outgoing(const std::uint8_t* frame, const char* tag) const;

    HidBus& bus_;
    const char* family_;
    const bool trace_;
    std::string path_;
    // The last read gave up: its reply may still be on the way.
    bool reply_outstanding_ = false;
};

}  // namespace kx
