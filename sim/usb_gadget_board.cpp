// SPDX-License-Identifier: MIT
#include "sim/usb_gadget_board.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

extern char** environ;

namespace kx::sim {

namespace {

constexpr const char* kConfigfs = "/sys/kernel/config";
constexpr const char* kGadgets = "/sys/kernel/config/usb_gadget";
constexpr const char* kUdcClass = "/sys/class/udc";
constexpr const char* kMountRoot = "/run/kx-usb-gadget";
constexpr std::size_t kPayload = HidHandle::kPayloadSize;
constexpr std::size_t kTransferLimit = 4096;

// HID class requests and descriptor types.
constexpr std::uint8_t kGetReport = 0x01;
constexpr std::uint8_t kSetReport = 0x09;
constexpr std::uint8_t kSetIdle = 0x0A;
constexpr std::uint8_t kSetProtocol = 0x0B;
constexpr std::uint8_t kHidDescriptor = 0x21;
constexpr std::uint8_t kReportDescriptor = 0x22;
constexpr std::uint8_t kOutputReport = 2;
constexpr std::uint8_t kFeatureReport = 3;

// Vendor page, no report IDs: 64-byte input, output and feature reports.
constexpr std::uint8_t kReportDescriptorBytes[] = {
    0x06, 0x00, 0xFF,                    // usage page 0xFF00 (vendor)
    0x09, 0x01,                          // usage 1
    0xA1, 0x01,                          // collection (application)
    0x15, 0x00,                          //   logical minimum 0
    0x26, 0xFF, 0x00,                    //   logical maximum 255
    0x75, 0x08,                          //   report size 8
    0x95, 0x40,                          //   report count 64
    0x09, 0x01, 0x81, 0x02,              // input (data, variable, absolute)
    0x95, 0x40, 0x09, 0x01, 0x91, 0x02,  // output
    0x95, 0x40, 0x09, 0x01, 0xB1, 0x02,  // feature
    0xC0,                                // end collection
};

void PutLe16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}
void SetLe32(std::vector<std::uint8_t>& out, std::size_t pos, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[pos + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// The HID class descriptor, as the host reads it inside the configuration
// and on its own.
std::vector<std::uint8_t> HidClassDescriptor() {
    std::vector<std::uint8_t> d = {9, kHidDescriptor};
    PutLe16(d, 0x0111);  // HID 1.11
    d.push_back(0);      // no country
    d.push_back(1);      // one class descriptor follows:
    d.push_back(kReportDescriptor);
    PutLe16(d, sizeof kReportDescriptorBytes);
    return d;
}

// FunctionFS descriptors: full speed only, one HID interface with interrupt
// IN (ep 1) and interrupt OUT (ep 2), 64 bytes every 1 ms.
std::vector<std::uint8_t> FunctionDescriptors() {
    std::vector<std::uint8_t> d;
    PutLe32(d, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    PutLe32(d, 0);  // length, filled in below
    PutLe32(d, FUNCTIONFS_HAS_FS_DESC);
    PutLe32(d, 4);  // full-speed descriptor count
    // Interface: number 0, 2 endpoints, class HID, no subclass or protocol,
    // string 1.
    d.insert(d.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_HID, 0, 0, 1});
    const auto hid = HidClassDescriptor();
    d.insert(d.end(), hid.begin(), hid.end());
    for (std::uint8_t address : {std::uint8_t{1 | USB_DIR_IN}, std::uint8_t{2 | USB_DIR_OUT}}) {
        d.insert(d.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_INT});
        PutLe16(d, kPayload);
        d.push_back(1);  // bInterval: 1 ms at full speed
    }
    SetLe32(d, 4, static_cast<std::uint32_t>(d.size()));
    return d;
}

std::vector<std::uint8_t> FunctionStrings() {
    static constexpr char kInterface[] = "HID board";
    std::vector<std::uint8_t> s;
    PutLe32(s, FUNCTIONFS_STRINGS_MAGIC);
    PutLe32(s, 0);  // length
    PutLe32(s, 1);  // strings per language
    PutLe32(s, 1);  // languages
    PutLe16(s, 0x0409);
    s.insert(s.end(), kInterface, kInterface + sizeof kInterface);
    SetLe32(s, 4, static_cast<std::uint32_t>(s.size()));
    return s;
}

// configfs takes the USB strings as UTF-8 and sends them as UTF-16.
std::string Utf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string Hex16(std::uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", v);
    return buf;
}

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool RunProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> DeviceControllers() {
    std::vector<std::string> names;
    if (DIR* d = opendir(kUdcClass)) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') {
                names.emplace_back(e->d_name);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::atomic<int> g_next_number{0};

}  // namespace

bool PrepareUsbGadgets(int controllers, std::string& error) {
    if (!Exists("/sys/module/dummy_hcd") &&
        !RunProgram({"modprobe", "dummy_hcd", "num=" + std::to_string(controllers)})) {
        error = "modprobe dummy_hcd failed";
        return false;
    }
    if (!RunProgram({"modprobe", "-a", "libcomposite", "usb_f_fs"})) {
        error = "modprobe libcomposite usb_f_fs failed";
        return false;
    }
    if (!Exists(kGadgets) && mount("none", kConfigfs, "configfs", 0, nullptr) != 0 &&
        errno != EBUSY) {
        error = Errno("mount configfs");
        return false;
    }
    if (mkdir(kMountRoot, 0755) != 0 && errno != EEXIST) {
        error = Errno(kMountRoot);
        return false;
    }
    const auto udcs = DeviceControllers();
    if (static_cast<int>(udcs.size()) < controllers) {
        error = std::to_string(udcs.size()) + " USB device controller(s), " +
                std::to_string(controllers) + " wanted";
        return false;
    }
    return true;
}

UsbGadgetBoard::UsbGadgetBoard(std::shared_ptr<SimBoard> board)
    : board_(std::move(board)), number_(g_next_number++) {
    name_ = "kx" + std::to_string(getpid()) + "n" + std::to_string(number_);
    gadget_dir_ = std::string(kGadgets) + "/" + name_;
    mount_dir_ = std::string(kMountRoot) + "/" + name_;
}

UsbGadgetBoard::~UsbGadgetBoard() {
    unplug();
    destroy_gadget();
}

bool UsbGadgetBoard::put(const std::string& path, const std::string& value) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) {
        error_ = Errno(path);
        return false;
    }
    const bool ok = ::write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    if (!ok) {
        error_ = Errno(path);
    }
    ::close(fd);
    return ok;
}

bool UsbGadgetBoard::create_gadget() {
    const BoardIdentity& id = board_->identity();
    auto dir = [this](const std::string& path) {
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
            error_ = Errno(path);
            return false;
        }
        return true;
    };
    const std::string strings = gadget_dir_ + "/strings/0x409";
    const std::string config = gadget_dir_ + "/configs/c.1";
    const std::string function = gadget_dir_ + "/functions/ffs." + name_;
    created_ = dir(gadget_dir_);
    if (!created_ || !put(gadget_dir_ + "/idVendor", Hex16(id.vendor_id)) ||
        !put(gadget_dir_ + "/idProduct", Hex16(id.product_id)) ||
        !put(gadget_dir_ + "/bcdDevice", "0x0100") || !put(gadget_dir_ + "/bcdUSB", "0x0200") ||
        !put(gadget_dir_ + "/max_speed", "full-speed") || !dir(strings) ||
        !put(strings + "/serialnumber", "KX-" + name_) ||
        (id.manufacturer && !put(strings + "/manufacturer", Utf8(*id.manufacturer))) ||
        (id.product && !put(strings + "/product", Utf8(*id.product))) || !dir(config) ||
        !dir(config + "/strings/0x409") || !put(config + "/strings/0x409/configuration", "board") ||
        !put(config + "/MaxPower", "100") || !dir(function)) {
        return false;
    }
    if (symlink(function.c_str(), (config + "/ffs." + name_).c_str()) != 0 && errno != EEXIST) {
        error_ = Errno("link the function into the configuration");
        return false;
    }
    if (!dir(mount_dir_)) {
        return false;
    }
    if (mount(name_.c_str(), mount_dir_.c_str(), "functionfs", 0, nullptr) != 0) {
        error_ = Errno("mount functionfs");
        return false;
    }
    mounted_ = true;
    ep0_ = ::open((mount_dir_ + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) {
        error_ = Errno("open ep0");
        return false;
    }
    const auto descriptors = FunctionDescriptors();
    const auto names = FunctionStrings();
    if (::write(ep0_, descriptors.data(), descriptors.size()) < 0 ||
        ::write(ep0_, names.data(), names.size()) < 0) {
        error_ = Errno("write the FunctionFS descriptors");
        return false;
    }
    // The endpoint files appear once the descriptors are in. Non-blocking
    // only while the host has not configured the device: a transfer on an
    // enabled endpoint still waits for the host.
    ep_in_ = ::open((mount_dir_ + "/ep1").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ep_out_ = ::open((mount_dir_ + "/ep2").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (ep_in_ < 0 || ep_out_ < 0 || wake_ < 0) {
        error_ = Errno("open the endpoints");
        return false;
    }
    control_thread_ = std::thread([this] { control_loop(); });
    out_thread_ = std::thread([this] { out_loop(); });
    in_thread_ = std::thread([this] { in_loop(); });
    return true;
}

void UsbGadgetBoard::destroy_gadget() {
    stop_ = true;
    {
        std::lock_guard lock(mutex_);
        enabled_changed_.notify_all();
    }
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
    }
    for (std::thread* t : {&control_thread_, &out_thread_, &in_thread_}) {
        if (t->joinable()) {
            t->join();
        }
    }
    for (int* fd : {&ep_in_, &ep_out_, &ep0_, &wake_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    if (mounted_) {
        umount2(mount_dir_.c_str(), MNT_DETACH);
        mounted_ = false;
    }
    rmdir(mount_dir_.c_str());
    if (created_) {
        const std::string config = gadget_dir_ + "/configs/c.1";
        unlink((config + "/ffs." + name_).c_str());
        rmdir((config + "/strings/0x409").c_str());
        rmdir(config.c_str());
        rmdir((gadget_dir_ + "/functions/ffs." + name_).c_str());
        rmdir((gadget_dir_ + "/strings/0x409").c_str());
        rmdir(gadget_dir_.c_str());
        created_ = false;
    }
}

bool UsbGadgetBoard::plug() {
    if (plugged()) {
        return true;
    }
    if (!created_ && !create_gadget()) {
        destroy_gadget();
        stop_ = false;
        return false;
    }
    board_->set_plugged(true);
    {
        std::lock_guard lock(mutex_);
        handle_ = board_->open_handle().handle;
    }
    // The first controller that takes the gadget; one in use by another
    // gadget refuses it.
    for (const std::string& udc : DeviceControllers()) {
        if (put(gadget_dir_ + "/UDC", udc)) {
            udc_ = udc;
            error_.clear();
            return true;
        }
    }
    if (error_.empty()) {
        error_ = "no USB device controller";
    }
    board_->set_plugged(false);
    std::lock_guard lock(mutex_);
    handle_.reset();
    return false;
}

void UsbGadgetBoard::unplug() {
    if (!plugged()) {
        return;
    }
    // Unbinding disables the endpoints: transfers waiting on them end.
    put(gadget_dir_ + "/UDC", "\n");
    udc_.clear();
    {
        std::lock_guard lock(mutex_);
        handle_.reset();
        enabled_ = false;
    }
    board_->set_plugged(false);
}

std::vector<UsbTransfer> UsbGadgetBoard::transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

void UsbGadgetBoard::clear_transfers() {
    std::lock_guard lock(mutex_);
    transfers_.clear();
}

void UsbGadgetBoard::record(UsbTransfer transfer) {
    std::lock_guard lock(mutex_);
    if (transfers_.size() >= kTransferLimit) {
        transfers_.erase(transfers_.begin());
    }
    transfers_.push_back(std::move(transfer));
}

std::shared_ptr<HidHandle> UsbGadgetBoard::handle() const {
    std::lock_guard lock(mutex_);
    return handle_;
}

bool UsbGadgetBoard::wait_enabled() {
    std::unique_lock lock(mutex_);
    enabled_changed_.wait(lock, [this] { return enabled_ || stop_; });
    return !stop_;
}

void UsbGadgetBoard::control_loop() {
    pollfd fds[2] = {{ep0_, POLLIN, 0}, {wake_, POLLIN, 0}};
    while (!stop_) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        usb_functionfs_event event{};
        if (::read(ep0_, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
            continue;  // a request the host cancelled, or an interrupted read
        }
        switch (event.type) {
            case FUNCTIONFS_ENABLE: {
                std::lock_guard lock(mutex_);
                enabled_ = true;
                enabled_changed_.notify_all();
                break;
            }
            case FUNCTIONFS_DISABLE:
            case FUNCTIONFS_UNBIND: {
                std::lock_guard lock(mutex_);
                enabled_ = false;
                break;
            }
            case FUNCTIONFS_SETUP:
                handle_setup(&event.u.setup);
                break;
            default:
                break;
        }
    }
}

void UsbGadgetBoard::handle_setup(const void* request) {
    usb_ctrlrequest r{};
    std::memcpy(&r, request, sizeof r);
    const unsigned value = r.wValue;  // little-endian host
    const std::size_t length = r.wLength;
    const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
    const std::uint8_t id = static_cast<std::uint8_t>(value);
    const bool in = (r.bRequestType & USB_DIR_IN) != 0;
    auto send = [this, length](const std::uint8_t* data, std::size_t size) {
        return ::write(ep0_, data, std::min(size, length)) >= 0;
    };
    auto stall = [this, in] {
        // A transfer in the wrong direction stalls the request.
        if (in) {
            [[maybe_unused]] const auto n = ::read(ep0_, nullptr, 0);
        } else {
            [[maybe_unused]] const auto n = ::write(ep0_, nullptr, 0);
        }
    };

    if (r.bRequestType == (USB_DIR_IN | USB_TYPE_STANDARD | USB_RECIP_INTERFACE) &&
        r.bRequest == USB_REQ_GET_DESCRIPTOR) {
        if (type == kReportDescriptor) {
            send(kReportDescriptorBytes, sizeof kReportDescriptorBytes);
        } else if (type == kHidDescriptor) {
            const auto hid = HidClassDescriptor();
            send(hid.data(), hid.size());
        } else {
            stall();
        }
        return;
    }
    const std::shared_ptr<HidHandle> h = handle();
    if (r.bRequestType == (USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
        r.bRequest == kGetReport && type == kFeatureReport && h) {
        Frame frame{};
        frame[0] = id;
        if (h->get_feature(frame.data()) < 0) {
            stall();
            return;
        }
        const std::size_t size = std::min(length, kPayload);
        // Recorded before it goes: once sent, the host may look at the
        // record before this thread gets to write it.
        record({UsbTransfer::Kind::GetReport,
                type,
                id,
                {frame.begin() + 1, frame.begin() + 1 + static_cast<std::ptrdiff_t>(size)}});
        send(frame.data() + 1, size);
        return;
    }
    if (r.bRequestType == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
        r.bRequest == kSetReport && (type == kFeatureReport || type == kOutputReport) && h &&
        length <= kPayload + 1) {
        std::uint8_t data[kPayload + 1]{};
        const ssize_t n = ::read(ep0_, data, length);
        if (n < 0) {
            return;
        }
        record({UsbTransfer::Kind::SetReport, type, id, {data, data + n}});
        Frame frame{};
        frame[0] = id;
        std::memcpy(frame.data() + 1, data,
                    std::min<std::size_t>(static_cast<std::size_t>(n), kPayload));
        if (type == kFeatureReport) {
            h->set_feature(frame.data());
        } else {
            h->write_output(frame.data());
        }
        return;
    }
    if (r.bRequestType == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
        (r.bRequest == kSetIdle || r.bRequest == kSetProtocol) && length == 0) {
        [[maybe_unused]] const auto n = ::read(ep0_, nullptr, 0);  // status stage
        return;
    }
    stall();
}

void UsbGadgetBoard::out_loop() {
    std::uint8_t packet[kPayload];
    while (wait_enabled()) {
        const ssize_t n = ::read(ep_out_, packet, sizeof packet);
        if (n < 0) {
            // Not configured yet, or unplugged while waiting: the endpoint
            // is disabled a moment before the event saying so arrives.
            if (errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            continue;
        }
        record({UsbTransfer::Kind::InterruptOut, 0, 0, {packet, packet + n}});
        if (const auto h = handle()) {
            Frame frame{};  // report ID 0; a short packet zero-filled
            std::memcpy(frame.data() + 1, packet, static_cast<std::size_t>(n));
            h->write_output(frame.data());
        }
    }
}

void UsbGadgetBoard::in_loop() {
    std::uint8_t payload[kPayload];
    while (wait_enabled()) {
        const auto h = handle();
        if (!h) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const int n = h->read_input(payload, 50);
        if (n <= 0) {
            if (n < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            continue;
        }
        // Waits until the host polls the endpoint; an unplug ends it and
        // the reply is lost, as a real board's would be.
        for (;;) {
            const ssize_t w = ::write(ep_in_, payload, static_cast<std::size_t>(n));
            if (w >= 0) {
                record({UsbTransfer::Kind::InterruptIn, 0, 0, {payload, payload + w}});
                break;
            }
            if (errno != EAGAIN || stop_) {
                break;
            }
            // Enabled a moment ago and the endpoint is not up yet, or
            // disabled: try again until the state settles.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard lock(mutex_);
            if (!enabled_) {
                break;
            }
        }
    }
}

}  // namespace kx::sim
