// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_board.h"

namespace kx::sim {

// One transfer as it crossed the USB bus, seen from the device.
struct UsbTransfer {
    enum class Kind { InterruptOut, InterruptIn, SetReport, GetReport };
    Kind kind;
    // Control transfers: wValue's high byte (1 input, 2 output, 3 feature)
    // and low byte, the report ID. 0 for interrupt transfers, which carry no
    // report ID on a device without numbered reports.
    std::uint8_t report_type = 0;
    std::uint8_t report_id = 0;
    // The bytes of the data stage or the interrupt packet, as many as came.
    std::vector<std::uint8_t> data;
};

// Makes the kernel ready to carry software boards as USB devices: loads
// dummy_hcd with `controllers` emulated host-and-device controller pairs (one
// board per pair), libcomposite and FunctionFS, and mounts configfs. Needs
// root. When dummy_hcd is already loaded it is kept, with the controllers it
// has. False, with `error` set, when fewer than `controllers` are there.
bool PrepareUsbGadgets(int controllers, std::string& error);

// A software board of sim/ exposed as a real full-speed USB HID device: a
// FunctionFS gadget bound to one of dummy_hcd's device controllers, so the
// kernel's own USB host stack enumerates it, usbhid binds it and a real
// /dev/hidrawN appears, with the board's vendor id, product id, manufacturer
// and product strings.
//
// The report descriptor has no report IDs: 64-byte input, output and feature
// reports. The adapter only carries reports between the bus and the board's
// bus-side handle (SimBoard::open_handle):
//   interrupt OUT packet    -> write_output, byte 0 = 0, the packet in 1-64
//   the board's replies     -> interrupt IN packets (read_input)
//   SET_REPORT(feature)     -> set_feature, byte 0 = the request's report ID
//   GET_REPORT(feature)     -> get_feature; a refusal stalls the request
// A short packet reaches the board zero-filled; transfers() keeps each one as
// it came, so a test sees exactly the bytes on the wire, and the board keeps
// its own record of the reports it received.
//
// Three threads serve the gadget while it exists: control requests on ep0,
// interrupt OUT and interrupt IN. plug() and unplug() are called from one
// thread (the test's).
class UsbGadgetBoard {
public:
    explicit UsbGadgetBoard(std::shared_ptr<SimBoard> board);
    // Unplugs and removes the gadget.
    ~UsbGadgetBoard();
    UsbGadgetBoard(const UsbGadgetBoard&) = delete;
    UsbGadgetBoard& operator=(const UsbGadgetBoard&) = delete;

    // Creates the gadget on first use and binds it to the first free device
    // controller: the host sees a device connect. False, with error() set,
    // when the gadget could not be made or no controller is free.
    bool plug();
    // Unbinds the gadget: the host sees the device disconnect. The board's
    // handle dies with it; a later plug() opens a new one.
    void unplug();
    bool plugged() const { return !udc_.empty(); }
    // The device controller the gadget is bound to ("dummy_udc.0"); empty
    // when unplugged.
    const std::string& udc() const { return udc_; }
    const std::string& error() const { return error_; }

    const std::shared_ptr<SimBoard>& board() const { return board_; }
    std::vector<UsbTransfer> transfers() const;
    void clear_transfers();

private:
    bool create_gadget();
    void destroy_gadget();
    bool put(const std::string& path, const std::string& value);

    void control_loop();
    void out_loop();
    void in_loop();
    void handle_setup(const void* request);
    // Waits until the host has configured the device (true) or the adapter
    // stops (false).
    bool wait_enabled();
    std::shared_ptr<HidHandle> handle() const;
    void record(UsbTransfer transfer);

    const std::shared_ptr<SimBoard> board_;
    const int number_;
    std::string name_;        // FunctionFS instance and gadget name
    std::string gadget_dir_;  // in configfs
    std::string mount_dir_;   // where FunctionFS is mounted
    std::string udc_;
    std::string error_;
    bool created_ = false;
    bool mounted_ = false;

    int ep0_ = -1;
    int ep_in_ = -1;
    int ep_out_ = -1;
    int wake_ = -1;  // eventfd that wakes the control thread to stop

    mutable std::mutex mutex_;  // guards handle_, enabled_, transfers_
    std::condition_variable enabled_changed_;
    std::shared_ptr<HidHandle> handle_;
    bool enabled_ = false;
    std::vector<UsbTransfer> transfers_;
    std::atomic<bool> stop_{false};

    std::thread control_thread_;
    std::thread out_thread_;
    std::thread in_thread_;
};

}  // namespace kx::sim
