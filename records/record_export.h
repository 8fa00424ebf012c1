// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "records/record_store.h"

namespace kx {

enum class ExportFormat { Csv, Jsonl };

// CSV: UTF-8 with a byte-order mark (spreadsheet programs then read the
// Chinese texts), one header line, one line per record with every
// channel's fields in columns, CRLF line ends, RFC 4180 quoting.
// JSON Lines: one object per record and line, LF line ends.
// The header line of the CSV (with the byte-order mark) and one record's line.
std::string CsvHeader();
std::string CsvLine(const TestRecord& record);
std::string JsonLine(const TestRecord& record);

struct ExportResult {
    bool ok = false;
    std::int64_t records = 0;
    std::string error;  // when !ok
};

// Exports every record the filter takes, oldest first, to `path`: written
// to a temporary file beside it and renamed over it once complete, so a
// failed or cancelled export leaves no half file. `progress` (may be empty)
// gets the count so far now and then; `cancel` stops it (no file).
ExportResult ExportRecords(RecordStore& store, const RecordFilter& filter, ExportFormat format,
                           const std::string& path,
                           const std::function<void(std::int64_t)>& progress = {},
                           const std::atomic<bool>* cancel = nullptr);
// The same to a stream-like sink (the command-line tool's standard output).
ExportResult ExportRecords(RecordStore& store, const RecordFilter& filter, ExportFormat format,
                           const std::function<bool(const std::string& chunk)>& sink);

}  // namespace kx
