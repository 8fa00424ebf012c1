// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "config/file_access.h"
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

// 255 readings take some 100 kB; a file of more than this is not a raw-data
// file and is not read into memory.
inline constexpr std::size_t kMaxRawDataFileBytes = 4u << 20;

// Where the baseline dialog saves and loads its readings: the raw-data file
// under the working directory, as an absolute path.
std::filesystem::path RawDataFilePath();
// "读数文件：<absolute path>", for the dialog.
std::string RawDataLocationText();

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
    FileError error;  // what failed; its path is the folder or the file, absolute

    // For the operator, naming the folder or file by its absolute path;
    // empty when the save went through.
    std::string Message() const;
};

// Creates `folder` when missing and writes `readings` to folder/rawdata.csv
// through ReplaceFileContents: a temporary file of this save's own replaces
// the old file only once it is completely written and flushed, so a failure
// leaves the old file whole and saves running at once (two windows, two
// stations on one share) leave one of their versions whole; a read-only file
// is refused; stale temporary files of killed saves in the folder go.
RawDataSave SaveRawData(const std::filesystem::path& folder, const std::vector<Reading>& readings);

struct RawDataLoad {
    enum Status {
        Ok,
        Missing,     // no such file
        Unreadable,  // not a regular file (folder, pipe, device), or a read error
        NotRawData,  // read, but not a raw-data file (see LoadRawData)
    };
    // Why a file is not a raw-data file.
    enum Refusal { None, TooLarge, Binary, Utf16, BadLine };

    Status status = Ok;
    std::string path;  // as given to LoadRawData, made absolute
    FileError error;   // Missing, Unreadable: what the system said
    Refusal refusal = None;
    int badLine = 0;                // BadLine: its number, from 1
    std::vector<Reading> readings;  // at most kMaxReadings; empty unless Ok
    bool truncated = false;         // the file held more readings than that

    // For the operator, naming the file by its absolute path; empty when the
    // load went through.
    std::string Message() const;
};

// Reads the readings of `file`, one per non-blank line, at most kMaxReadings.
// Only a regular file is opened (never blocking on a pipe or device), and at
// most kMaxRawDataFileBytes of it. LF, CRLF and CR line ends all end a line
// (mixed too); a UTF-8 byte-order mark is skipped. A file is refused as
// NotRawData, with no reading, when it is larger than that, holds a zero
// byte or a control character other than tab, CR and LF (binary; UTF-16
// text is told apart), or has a non-blank line that is not a reading's:
// "Item=" and a label, ",Checked=" and a mark, ",", then values that are
// integers or blank, each followed by a comma (the last may lack it; a
// line's values that do not end within kMaxRawDataLine are not looked at
// and read as 0). Lines of two
// writers run together are refused so.
RawDataLoad LoadRawData(const std::filesystem::path& file);

}  // namespace kx
