#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/reading_table.h"

namespace kx {

// The raw-data file of the baseline dialog: "rawdata/rawdata.csv" under the
// working directory, one line per reading:
//
//   Item=<n>,Checked=<0|1>,<v0>,<v1>,...,<v31>,\r\n
//
// with every value followed by a comma.
inline constexpr char kRawDataFolder[] = "rawdata";
inline constexpr char kRawDataFile[] = "rawdata.csv";

// A line longer than this is cut there when loading (a real line is well
// under 500 characters).
inline constexpr std::size_t kMaxRawDataLine = 4096;

std::string FormatRawDataLine(int item, bool checked, const ChannelValues& values);

// One line, without its line end (a trailing '\r' is allowed). The label is
// the text between the first '=' and the next ','; the row is ticked when the
// text between the second '=' and the next ',' is exactly "1"; after that
// comma come the values, each ending at the next comma and read like atoi
// (leading blanks, a sign, digits, anything after ignored, kept within
// int32). A channel with no comma-terminated field reads as 0; nothing is
// read past the end of the line.
Reading ParseRawDataLine(std::string_view line);

// The file's whole text for `readings`, reading n on line n.
std::string RawDataText(const std::vector<Reading>& readings);

struct RawDataSave {
    enum Status { Ok, FolderFailed, WriteFailed };
    Status status = Ok;
    int error = 0;  // errno of the failure
};

// Creates `folder` when missing and writes `readings` to folder/rawdata.csv
// through a temporary file that replaces the old file only once it is
// completely written and flushed: a failure leaves the old file whole.
RawDataSave SaveRawData(const std::filesystem::path& folder, const std::vector<Reading>& readings);

struct RawDataLoad {
    enum Status { Ok, Missing, Unreadable };
    Status status = Ok;
    int error = 0;
    std::vector<Reading> readings;  // at most kMaxReadings
    bool truncated = false;         // the file held more readings than that
};

// Reads the readings of `file`, one per non-blank line, at most kMaxReadings.
RawDataLoad LoadRawData(const std::filesystem::path& file);

}  // namespace kx
