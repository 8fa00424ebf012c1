// SPDX-License-Identifier: MIT
#include "dialogs/raw_data_file.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <system_error>

#include "core/tr_text.h"

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

// A byte no raw-data file holds: a zero byte or a control character other
// than tab and the line ends.
bool IsBinaryByte(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f;
}

// UTF-16 text: a byte-order mark, or (without one) the zero bytes that ASCII
// text in UTF-16 has in every other place.
bool LooksUtf16(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        return true;
    }
    const std::size_t n = std::min<std::size_t>(bytes.size() & ~std::size_t{1}, 64);
    bool evenZero = n > 0;
    bool oddZero = n > 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] != '\0') {
            (i % 2 == 0 ? evenZero : oddZero) = false;
        }
    }
    return evenZero != oddZero;
}

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

// A value between commas: an integer with blanks around it, or blanks only
// (read as 0).
bool IsValueField(std::string_view field) {
    const std::size_t first = field.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return true;
    }
    field = field.substr(first, field.find_last_not_of(" \t") + 1 - first);
    if (field.front() == '+' || field.front() == '-') {
        field.remove_prefix(1);
    }
    return !field.empty() &&
           std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A reading's line: "Item=" and its label, a comma, "Checked=" and its mark,
// a comma, then values (IsValueField), each followed by a comma; the last
// may lack its comma.
bool IsRawDataLine(std::string_view line) {
    const std::size_t first = line.find(',');
    if (!line.starts_with("Item=") || first == std::string_view::npos ||
        !line.substr(first + 1).starts_with("Checked=")) {
        return false;
    }
    const std::size_t second = line.find(',', first + 1);
    if (second == std::string_view::npos) {
        return true;
    }
    for (std::size_t pos = second + 1;;) {
        const std::size_t comma = line.find(',', pos);
        if (!IsValueField(line.substr(pos, comma - pos))) {
            return false;
        }
        if (comma == std::string_view::npos) {
            return true;
        }
        pos = comma + 1;
    }
}

// Why a save failed, as the operator reads it.
std::string SaveReason(int code) {
    switch (code) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return TrText("RawDataFile", "磁盘空间不足");
        case EACCES:
        case EPERM:
            return TrText("RawDataFile", "没有写入权限");
        case ENOTDIR:
        case EEXIST:
            return TrText("RawDataFile", "同名的文件已经存在");
        default:
            return FileErrorReason(code);
    }
}

// `path` made absolute against the working directory, so that the operator
// reads where the file is; as given when that cannot be told.
std::filesystem::path Absolute(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal();
}

}  // namespace

std::filesystem::path RawDataFilePath() {
    return Absolute(std::filesystem::path(kRawDataFolder) / kRawDataFile);
}

std::string RawDataLocationText() {
    return FormatText(TrText("RawDataFile", "读数文件：%1"), {RawDataFilePath().string()});
}

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

std::string RawDataSave::Message() const {
    switch (status) {
        case Ok:
            break;
        case FolderFailed:
            return FormatText(TrText("RawDataFile", "无法创建文件夹 %1（%2），读数没有保存。"),
                              {error.path, SaveReason(error.code)});
        case WriteFailed:
            return FormatText(
                error.originalKept
                    ? TrText("RawDataFile",
                             "无法写入文件 %1（%2），读数没有保存，原有的文件没有改动。")
                    : TrText("RawDataFile", "无法写入文件 %1（%2），读数没有保存。"),
                {error.path, SaveReason(error.code)});
    }
    return {};
}

RawDataSave SaveRawData(const std::filesystem::path& given, const std::vector<Reading>& readings) {
    const std::filesystem::path folder = Absolute(given);
    RawDataSave result;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        result.status = RawDataSave::FolderFailed;
        result.error.code = ec ? ec.value() : ENOTDIR;
        result.error.action = "创建文件夹";
        result.error.path = folder.string();
        return result;
    }
    result.error = ReplaceFileContents((folder / kRawDataFile).string(), RawDataText(readings));
    if (result.error) {
        result.status = RawDataSave::WriteFailed;
    }
    return result;
}

std::string RawDataLoad::Message() const {
    switch (status) {
        case Ok:
            break;
        case Missing:
            return FormatText(TrText("RawDataFile", "文件不存在：%1"), {path});
        case Unreadable:
            return FormatText(TrText("RawDataFile", "无法读取文件 %1（%2），读数表没有改动。"),
                              {path, FileErrorReason(error.code)});
        case NotRawData: {
            std::string why;
            switch (refusal) {
                case TooLarge:
                    why = TrText("RawDataFile", "文件过大");
                    break;
                case Binary:
                    why = TrText("RawDataFile", "含有二进制数据");
                    break;
                case Utf16:
                    why = FileErrorReason(FileError::kUtf16);
                    break;
                case BadLine:
                    why = FormatText(TrText("RawDataFile", "第 %1 行不是读数"),
                                     {std::to_string(badLine)});
                    break;
                case None:
                    break;
            }
            return FormatText(TrText("RawDataFile", "文件 %1 不是读数文件（%2），读数表没有改动。"),
                              {path, why});
        }
    }
    return {};
}

RawDataLoad LoadRawData(const std::filesystem::path& file) {
    RawDataLoad result;
    result.path = Absolute(file).string();
    auto refuse = [&](RawDataLoad::Refusal why, int line = 0) {
        result.status = RawDataLoad::NotRawData;
        result.refusal = why;
        result.badLine = line;
        result.readings.clear();
        result.truncated = false;
        return result;
    };

    std::string bytes;
    bool missing = false;
    result.error = ReadWholeFile(result.path, bytes, &missing, kMaxRawDataFileBytes);
    if (result.error.code == FileError::kTooLarge) {
        return refuse(RawDataLoad::TooLarge);
    }
    if (result.error) {
        result.status = missing ? RawDataLoad::Missing : RawDataLoad::Unreadable;
        return result;
    }
    std::string_view text = bytes;
    if (LooksUtf16(text)) {
        return refuse(RawDataLoad::Utf16);
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);  // a UTF-8 byte-order mark
    }
    if (std::any_of(text.begin(), text.end(),
                    [](char c) { return IsBinaryByte(static_cast<unsigned char>(c)); })) {
        return refuse(RawDataLoad::Binary);
    }

    // Every line is looked at, also past the readings kept, so that a file is
    // taken or refused as a whole.
    int number = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        std::string_view line = text.substr(pos, end - pos);
        ++number;
        pos = end;
        if (pos < text.size()) {
            // CR LF is one line end; a CR or an LF alone is one too.
            pos += text.compare(pos, 2, "\r\n") == 0 ? 2 : 1;
        }
        if (IsBlank(line)) {
            continue;
        }
        if (line.size() > kMaxRawDataLine) {
            // The cut falls after the last comma within the limit, so that
            // a value is read whole or not at all: a value cut in two would
            // read as another number, or a sign as a broken line.
            const std::size_t comma = line.rfind(',', kMaxRawDataLine - 1);
            line = line.substr(0, comma == std::string_view::npos ? kMaxRawDataLine : comma + 1);
        }
        if (!IsRawDataLine(line)) {
            return refuse(RawDataLoad::BadLine, number);
        }
        if (result.readings.size() < static_cast<std::size_t>(kMaxReadings)) {
            result.readings.push_back(ParseRawDataLine(line));
        } else {
            result.truncated = true;
        }
    }
    return result;
}

}  // namespace kx
