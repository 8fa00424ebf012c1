#include "dialogs/raw_data_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>

namespace kx {

namespace {

// The longest label kept; longer ones are cut.
constexpr std::size_t kMaxLabel = 64;

// atoi of a field, without its undefined overflow: blanks, a sign, digits,
// and anything after the digits ignored.
std::int32_t AtoiField(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t' || field[i] == '\r' ||
                                field[i] == '\n' || field[i] == '\f' || field[i] == '\v')) {
        ++i;
    }
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    constexpr std::int64_t kCap = std::int64_t{1} << 40;
    std::int64_t magnitude = 0;
    while (i < field.size() && field[i] >= '0' && field[i] <= '9') {
        magnitude = std::min(magnitude * 10 + (field[i] - '0'), kCap);
        ++i;
    }
    const std::int64_t v = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The text after the first '=' from `from` up to the next ',', and where the
// scan goes on (after that comma). Without '=' or ',' the field is whatever
// there is and the scan ends at the end of the line.
std::string_view NamedField(std::string_view line, std::size_t from, std::size_t& next) {
    const std::size_t eq = line.find('=', from);
    if (eq == std::string_view::npos) {
        next = line.size();
        return {};
    }
    const std::size_t comma = line.find(',', eq + 1);
    if (comma == std::string_view::npos) {
        next = line.size();
        return line.substr(eq + 1);
    }
    next = comma + 1;
    return line.substr(eq + 1, comma - eq - 1);
}

int WriteAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string FormatRawDataLine(int item, bool checked, const ChannelValues& values) {
    std::string line = "Item=" + std::to_string(item) + ",Checked=" + (checked ? "1" : "0") + ",";
    for (std::int32_t v : values) {
        line += std::to_string(v);
        line += ',';
    }
    line += "\r\n";
    return line;
}

Reading ParseRawDataLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    Reading r;
    r.ticked = false;
    std::size_t pos = 0;
    const std::string_view label = NamedField(line, pos, pos);
    r.label.assign(label.substr(0, kMaxLabel));
    r.ticked = NamedField(line, pos, pos) == "1";
    for (int c = 0; c < kChannels; ++c) {
        const std::size_t comma = line.find(',', pos);
        if (comma == std::string_view::npos) {
            break;  // this and later channels stay 0
        }
        r.values[c] = AtoiField(line.substr(pos, comma - pos));
        pos = comma + 1;
    }
    return r;
}

std::string RawDataText(const std::vector<Reading>& readings) {
    std::string text;
    text.reserve(readings.size() * 200);
    for (std::size_t n = 0; n < readings.size(); ++n) {
        text += FormatRawDataLine(static_cast<int>(n), readings[n].ticked, readings[n].values);
    }
    return text;
}

RawDataSave SaveRawData(const std::filesystem::path& folder, const std::vector<Reading>& readings) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        return {RawDataSave::FolderFailed, ec ? ec.value() : ENOTDIR};
    }
    const std::filesystem::path target = folder / kRawDataFile;
    std::filesystem::path temp = target;
    temp += ".tmp";

    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return {RawDataSave::WriteFailed, errno};
    }
    int error = WriteAll(fd, RawDataText(readings));
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        return {RawDataSave::WriteFailed, error};
    }
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

RawDataLoad LoadRawData(const std::filesystem::path& file) {
    RawDataLoad result;
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(file.c_str(), "rb"));
    if (!f) {
        result.status = errno == ENOENT ? RawDataLoad::Missing : RawDataLoad::Unreadable;
        result.error = errno;
        return result;
    }
    std::string line;
    bool cut = false;  // the rest of an over-long line is skipped
    auto finishLine = [&]() {
        const bool blank = line.empty() || line == "\r";
        if (!blank) {
            if (result.readings.size() < static_cast<std::size_t>(kMaxReadings)) {
                result.readings.push_back(ParseRawDataLine(line));
            } else {
                result.truncated = true;
            }
        }
        line.clear();
        cut = false;
    };
    int ch;
    while (!result.truncated && (ch = std::getc(f.get())) != EOF) {
        if (ch == '\n') {
            finishLine();
        } else if (!cut) {
            if (line.size() < kMaxRawDataLine) {
                line.push_back(static_cast<char>(ch));
            } else {
                cut = true;
            }
        }
    }
    if (std::ferror(f.get())) {
        result.status = RawDataLoad::Unreadable;
        result.error = errno;
        result.readings.clear();
        return result;
    }
    finishLine();
    return result;
}

}  // namespace kx
