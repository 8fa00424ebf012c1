// SPDX-License-Identifier: MIT
// libFuzzer target for the raw-data file of the baseline dialog. Checks, for
// any bytes:
// - a line parses to a label of at most 64 bytes, and a line the dialog
//   writes parses back to what it was written from;
// - the bytes, written to a real file, read back whole, and load either as
//   readings or as a refusal that carries no reading;
// - a file with a zero byte or another control character is refused;
// - a load that goes through keeps one reading per non-blank line (at most
//   kMaxReadings, marked truncated beyond), reads the same after a UTF-8
//   byte-order mark is put in front, and its readings saved and loaded again
//   come back the same (labels numbered from 0) in a file whose bytes are
//   exactly RawDataText's.
// One temporary folder per process holds the files of every run.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "config/file_access.h"
#include "dialogs/raw_data_file.h"

namespace {

namespace fs = std::filesystem;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "kx_rawdata_fuzz.XXXXXX").string();
        Check(::mkdtemp(pattern.data()) != nullptr);
        path = pattern;
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const fs::path& TempFolder() {
    static const Folder folder;
    return folder.path;
}

void WriteFile(const fs::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    Check(out.good());
}

// The non-blank lines of `text` with LF, CRLF and CR ends, told apart here
// without the loader's code.
std::size_t NonBlankLines(std::string_view text) {
    std::size_t count = 0;
    bool blank = true;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size() || text[i] == '\r' || text[i] == '\n';
        if (end) {
            count += blank ? 0 : 1;
            blank = true;
            if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') {
                ++i;
            }
        } else if (text[i] != ' ' && text[i] != '\t') {
            blank = false;
        }
    }
    return count;
}

bool HasControlByte(std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f) {
            return true;
        }
    }
    return false;
}

bool SameReadings(const std::vector<kx::Reading>& a, const std::vector<kx::Reading>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t n = 0; n < a.size(); ++n) {
        if (a[n].label != b[n].label || a[n].ticked != b[n].ticked || a[n].values != b[n].values) {
            return false;
        }
    }
    return true;
}

void CheckLoad(const kx::RawDataLoad& load) {
    Check(!load.Message().empty() == (load.status != kx::RawDataLoad::Ok));
    if (load.status != kx::RawDataLoad::Ok) {
        // A refusal carries no reading.
        Check(load.readings.empty());
        Check(!load.truncated);
        Check(load.status == kx::RawDataLoad::NotRawData);
        Check(load.refusal != kx::RawDataLoad::None);
        Check((load.refusal == kx::RawDataLoad::BadLine) == (load.badLine > 0));
        return;
    }
    Check(load.refusal == kx::RawDataLoad::None && load.badLine == 0);
    Check(load.readings.size() <= static_cast<std::size_t>(kx::kMaxReadings));
    Check(!load.truncated || load.readings.size() == static_cast<std::size_t>(kx::kMaxReadings));
    for (const kx::Reading& r : load.readings) {
        Check(r.label.size() <= 64);
    }
}

void CheckLine(std::string_view line) {
    const kx::Reading r = kx::ParseRawDataLine(line);
    Check(r.label.size() <= 64);
    // What the dialog writes for that reading parses back to it.
    const int item = static_cast<int>(line.size());
    std::string written = kx::FormatRawDataLine(item, r.ticked, r.values);
    Check(written.ends_with("\r\n"));
    written.resize(written.size() - 2);
    const kx::Reading back = kx::ParseRawDataLine(written);
    Check(back.label == std::to_string(item));
    Check(back.ticked == r.ticked && back.values == r.values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    CheckLine(in.substr(0, in.find('\n')));

    const fs::path& folder = TempFolder();
    const fs::path file = folder / "input.csv";
    WriteFile(file, in);
    std::string bytes;
    Check(!kx::ReadWholeFile(file.string(), bytes, nullptr, kx::kMaxRawDataFileBytes));
    Check(bytes == in);

    const kx::RawDataLoad load = kx::LoadRawData(file);
    CheckLoad(load);
    std::string_view text = in;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (text.find('\0') != std::string_view::npos || HasControlByte(text)) {
        Check(load.status == kx::RawDataLoad::NotRawData);
    }
    if (load.status != kx::RawDataLoad::Ok) {
        return 0;
    }
    const std::size_t lines = NonBlankLines(text);
    Check(load.readings.size() == std::min<std::size_t>(lines, kx::kMaxReadings));
    Check(load.truncated == (lines > static_cast<std::size_t>(kx::kMaxReadings)));

    if (!in.starts_with("\xEF\xBB\xBF")) {
        WriteFile(file, "\xEF\xBB\xBF" + std::string(in));
        const kx::RawDataLoad marked = kx::LoadRawData(file);
        Check(marked.status == kx::RawDataLoad::Ok && marked.truncated == load.truncated);
        Check(SameReadings(marked.readings, load.readings));
    }

    const fs::path saveFolder = folder / "save";
    const kx::RawDataSave save = kx::SaveRawData(saveFolder, load.readings);
    Check(save.status == kx::RawDataSave::Ok && save.Message().empty());
    const std::string expected = kx::RawDataText(load.readings);
    const fs::path saved = saveFolder / kx::kRawDataFile;
    Check(!kx::ReadWholeFile(saved.string(), bytes));
    Check(bytes == expected);
    const kx::RawDataLoad again = kx::LoadRawData(saved);
    Check(again.status == kx::RawDataLoad::Ok && !again.truncated);
    Check(again.readings.size() == load.readings.size());
    for (std::size_t n = 0; n < again.readings.size(); ++n) {
        Check(again.readings[n].label == std::to_string(n));
        Check(again.readings[n].ticked == load.readings[n].ticked);
        Check(again.readings[n].values == load.readings[n].values);
    }
    Check(kx::RawDataText(again.readings) == expected);
    return 0;
}
