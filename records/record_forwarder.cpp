// SPDX-License-Identifier: MIT
#include "records/record_forwarder.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "core/tr_text.h"
#include "records/record_store.h"

namespace kx {
namespace {

using Clock = std::chrono::steady_clock;

// How long a wait on the server's socket goes without looking at Stop.
constexpr auto kStopSlice = std::chrono::milliseconds(50);
// The columns a record fills in the server's table; a batch's parameters
// stay under the protocol's 65535.
constexpr int kColumns = 26;
constexpr int kMaxBatch = 1000;

struct PgConnClose {
    void operator()(PGconn* conn) const { PQfinish(conn); }
};
using PgConn = std::unique_ptr<PGconn, PgConnClose>;
struct PgResultClear {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultClear>;

// libpq's messages end with a line break and may span several indented
// lines: one line, single spaces.
std::string OneLine(const char* message) {
    std::string text;
    for (const char* p = message != nullptr ? message : ""; *p != '\0'; ++p) {
        const bool space = *p == ' ' || *p == '\n' || *p == '\t' || *p == '\r';
        if (!space) {
            text += *p;
        } else if (!text.empty() && text.back() != ' ') {
            text += ' ';
        }
    }
    if (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text.empty() ? TrText("RecordForwarder", "未知错误") : text;
}

// The server's text columns take valid UTF-8 without NUL, and a text
// parameter ends at its first NUL. A string that is neither (a
// configuration path in another encoding) goes with U+FFFD for each bad
// byte: refused by the server, it would hold back every later record.
std::string ServerText(const std::string& text) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x01 && c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        std::size_t len = 0;
        std::uint32_t cp = 0;
        std::uint32_t min = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2, cp = c & 0x1Fu, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, cp = c & 0x0Fu, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, cp = c & 0x07u, min = 0x10000;
        }
        bool ok = len != 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            ok = (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3Fu);
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (ok) {
            out.append(text, i, len);
            i += len;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

// The channels as a JSON array, channel 1 first: numbers only.
std::string ChannelsJson(const TestRecord& record) {
    std::string json = "[";
    for (std::size_t i = 0; i < record.channels.size(); ++i) {
        const ChannelRecord& ch = record.channels[i];
        if (i > 0) {
            json += ',';
        }
        json += "{\"mode\":" + std::to_string(ch.mode) +
                ",\"class\":" + std::to_string(ch.channelClass) +
                ",\"green\":" + std::to_string(ch.greenMark) +
                ",\"value\":" + std::to_string(ch.value) + ",\"low\":" + std::to_string(ch.low) +
                ",\"high\":" + std::to_string(ch.high) + ",\"upper\":" + std::to_string(ch.upper) +
                ",\"lower\":" + std::to_string(ch.lower) +
                ",\"reference\":" + std::to_string(ch.reference) + "}";
    }
    return json + "]";
}

// The server's table: one row a record, its UUID the key, every field of
// the record a column (times as UTC milliseconds, as the station keeps
// them), the channels one JSON array of objects, channel 1 first. The
// column list below and the values of RecordValues go in the same order.
std::string CreateTableSql() {
    return std::string("CREATE TABLE IF NOT EXISTS ") + RecordForwarder::kServerTable +
           " ("
           "uuid uuid PRIMARY KEY, "
           "time_ms bigint NOT NULL, "
           "utc_offset_minutes integer NOT NULL, "
           "start_ms bigint NOT NULL, "
           "duration_ms bigint NOT NULL, "
           "station text NOT NULL, "
           "operator_name text NOT NULL, "
           "config text NOT NULL, "
           "config_sha256 text NOT NULL, "
           "board_family text NOT NULL, "
           "board_manufacturer text NOT NULL, "
           "board_product text NOT NULL, "
           "board_firmware text NOT NULL, "
           "board_device_id text NOT NULL, "
           "board_machine_type integer NOT NULL, "
           "head_page integer NOT NULL, "
           "head_row integer NOT NULL, "
           "head_column integer NOT NULL, "
           "serial text NOT NULL, "
           "verdict text NOT NULL, "
           "reason text NOT NULL, "
           "fpc boolean NOT NULL, "
           "worst text NOT NULL, "
           "steps bigint NOT NULL, "
           "failed_steps bigint NOT NULL, "
           "channels jsonb NOT NULL, "
           "received_at timestamptz NOT NULL DEFAULT now())";
}

constexpr const char* kInsertColumns =
    "uuid, time_ms, utc_offset_minutes, start_ms, duration_ms, station, operator_name, config, "
    "config_sha256, board_family, board_manufacturer, board_product, board_firmware, "
    "board_device_id, board_machine_type, head_page, head_row, head_column, serial, verdict, "
    "reason, fpc, worst, steps, failed_steps, channels";
constexpr const char* kColumnTypes[kColumns] = {
    "uuid", "int8", "int4", "int8", "int8", "text", "text", "text", "text",
    "text", "text", "text", "text", "text", "int4", "int4", "int4", "int4",
    "text", "text", "text", "bool", "text", "int8", "int8", "jsonb"};

void RecordValues(const TestRecord& r, std::vector<std::string>* values) {
    values->push_back(ServerText(r.uuid));
    values->push_back(std::to_string(r.timeMs));
    values->push_back(std::to_string(r.utcOffsetMinutes));
    values->push_back(std::to_string(r.startMs));
    values->push_back(std::to_string(r.durationMs));
    values->push_back(ServerText(r.station));
    values->push_back(ServerText(r.operatorName));
    values->push_back(ServerText(r.config));
    values->push_back(ServerText(r.configSha256));
    values->push_back(ServerText(r.board.family));
    values->push_back(ServerText(r.board.manufacturer));
    values->push_back(ServerText(r.board.product));
    values->push_back(ServerText(r.board.firmware));
    values->push_back(ServerText(r.board.deviceId));
    values->push_back(std::to_string(r.board.machineType));
    values->push_back(std::to_string(r.page));
    values->push_back(std::to_string(r.row));
    values->push_back(std::to_string(r.column));
    values->push_back(ServerText(r.serial));
    values->push_back(VerdictText(r.verdict));
    values->push_back(ServerText(r.reason));
    values->push_back(r.fpc ? "true" : "false");
    values->push_back(WorstVerdictText(r.worst));
    values->push_back(std::to_string(r.steps));
    values->push_back(std::to_string(r.failedSteps));
    values->push_back(ChannelsJson(r));
}

// One statement for the whole batch: placeholders only, every value a
// parameter. A record whose UUID the server has changes nothing.
std::string InsertSql(std::size_t rows) {
    std::string sql = std::string("INSERT INTO ") + RecordForwarder::kServerTable + " (" +
                      kInsertColumns + ") VALUES ";
    int n = 0;
    for (std::size_t row = 0; row < rows; ++row) {
        sql += row == 0 ? "(" : ",(";
        for (int col = 0; col < kColumns; ++col) {
            sql += (col == 0 ? "$" : ",$") + std::to_string(++n) + "::" + kColumnTypes[col];
        }
        sql += ")";
    }
    return sql + " ON CONFLICT (uuid) DO NOTHING";
}

enum class Ready { Yes, Stopped, TimedOut, Failed };

// Waits for `events` on `fd` until `deadline`, looking at `stopping` every
// slice, so that Stop is never held up by a silent server.
Ready WaitSocket(int fd, short events, Clock::time_point deadline,
                 const std::atomic<bool>& stopping) {
    if (fd < 0) {
        return Ready::Failed;
    }
    for (;;) {
        if (stopping.load()) {
            return Ready::Stopped;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return Ready::TimedOut;
        }
        const auto slice = std::min<Clock::duration>(deadline - now, kStopSlice);
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(ms, 1)));
        if (n > 0) {
            return Ready::Yes;  // an error or hang-up too: libpq finds out which
        }
        if (n < 0 && errno != EINTR) {
            return Ready::Failed;
        }
    }
}

// Connects without blocking (libpq's own connect_timeout applies only to its
// blocking connect), within `timeoutSeconds`. Null with `error` set, or with
// `error` empty when stopping.
PgConn Connect(const std::string& server, int timeoutSeconds, const std::atomic<bool>& stopping,
               std::string* error) {
    // The address first, so that the encoding after it wins over one it
    // names: the values sent are UTF-8.
    const char* keys[] = {"dbname", "client_encoding", "fallback_application_name", nullptr};
    const char* values[] = {server.c_str(), "UTF8", "kaldrixplus", nullptr};
    PgConn conn(PQconnectStartParams(keys, values, 1));
    if (!conn) {
        *error = TrText("RecordForwarder", "无法连接记录服务器：内存不足");
        return {};
    }
    if (PQstatus(conn.get()) == CONNECTION_BAD) {
        *error = FormatText(TrText("RecordForwarder", "无法连接记录服务器：%1"),
                            {OneLine(PQerrorMessage(conn.get()))});
        return {};
    }
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) {
            *error = FormatText(TrText("RecordForwarder", "无法连接记录服务器：%1"),
                                {OneLine(PQerrorMessage(conn.get()))});
            return {};
        }
        const short events = state == PGRES_POLLING_READING ? POLLIN : POLLOUT;
        switch (WaitSocket(PQsocket(conn.get()), events, deadline, stopping)) {
            case Ready::Yes:
                break;
            case Ready::Stopped:
                error->clear();
                return {};
            case Ready::TimedOut:
                *error =
                    FormatText(TrText("RecordForwarder", "无法连接记录服务器：%1 秒内没有应答"),
                               {std::to_string(timeoutSeconds)});
                return {};
            case Ready::Failed: {
                const int err = errno;
                *error = FormatText(TrText("RecordForwarder", "无法连接记录服务器：%1"),
                                    {std::strerror(err)});
                return {};
            }
        }
        state = PQconnectPoll(conn.get());
    }
    if (PQsetnonblocking(conn.get(), 1) != 0) {
        *error = FormatText(TrText("RecordForwarder", "无法连接记录服务器：%1"),
                            {OneLine(PQerrorMessage(conn.get()))});
        return {};
    }
    return conn;
}

// Runs one parameterised statement without blocking, within `timeout`.
// Its last result when it is `expect`; null with `error` set otherwise, or
// with `error` empty when stopping.
PgResult Exec(PGconn* conn, const std::string& sql, const std::vector<const char*>& values,
              ExecStatusType expect, std::chrono::seconds timeout,
              const std::atomic<bool>& stopping, std::string* error) {
    const auto deadline = Clock::now() + timeout;
    auto waitFor = [&](short events) {
        switch (WaitSocket(PQsocket(conn), events, deadline, stopping)) {
            case Ready::Yes:
                return true;
            case Ready::Stopped:
                error->clear();
                return false;
            case Ready::TimedOut:
                *error = FormatText(TrText("RecordForwarder", "记录服务器 %1 秒内没有应答"),
                                    {std::to_string(timeout.count())});
                return false;
            case Ready::Failed: {
                const int err = errno;
                *error = FormatText(TrText("RecordForwarder", "记录服务器连接出错：%1"),
                                    {std::strerror(err)});
                return false;
            }
        }
        return false;
    };
    auto failed = [&] {
        *error = FormatText(TrText("RecordForwarder", "记录服务器连接出错：%1"),
                            {OneLine(PQerrorMessage(conn))});
        return PgResult{};
    };
    if (PQsendQueryParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                          values.empty() ? nullptr : values.data(), nullptr, nullptr, 0) == 0) {
        return failed();
    }
    for (;;) {
        const int flushed = PQflush(conn);
        if (flushed == 0) {
            break;
        }
        if (flushed < 0) {
            return failed();
        }
        // The server may answer (an error) before it has read everything.
        if (!waitFor(POLLIN | POLLOUT)) {
            return {};
        }
        if (PQconsumeInput(conn) == 0) {
            return failed();
        }
    }
    PgResult last;
    std::string firstError;
    for (;;) {
        while (PQisBusy(conn) != 0) {
            if (!waitFor(POLLIN)) {
                return {};
            }
            if (PQconsumeInput(conn) == 0) {
                return failed();
            }
        }
        PgResult result(PQgetResult(conn));
        if (!result) {
            break;
        }
        if (PQresultStatus(result.get()) != expect && firstError.empty()) {
            firstError = FormatText(TrText("RecordForwarder", "记录服务器拒绝了请求：%1"),
                                    {OneLine(PQresultErrorMessage(result.get()))});
        }
        last = std::move(result);
    }
    if (!firstError.empty()) {
        *error = firstError;
        return {};
    }
    if (!last) {
        return failed();
    }
    return last;
}

}  // namespace

RecordForwarder::RecordForwarder(std::string dbPath, std::string server, Status status,
                                 Options options)
    : m_dbPath(std::move(dbPath)),
      m_server(std::move(server)),
      m_status(std::move(status)),
      m_options(options) {}

RecordForwarder::~RecordForwarder() {
    Stop();
}

void RecordForwarder::Start() {
    std::lock_guard threadLock(m_threadMutex);
    if (m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
        m_woken = false;
    }
    m_thread = std::thread([this] { Run(); });
}

void RecordForwarder::Wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wakeup.notify_all();
}

void RecordForwarder::Stop() {
    std::lock_guard threadLock(m_threadMutex);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wakeup.notify_all();
    // From the status callback, on the sender's own thread: it ends when the
    // callback returns, and a later Stop joins it.
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

std::int64_t RecordForwarder::Waiting() const {
    return m_waiting.load();
}

bool RecordForwarder::ValidServer(const std::string& server, std::string* reason) {
    auto refuse = [&](std::string why) {
        if (reason != nullptr) {
            *reason = std::move(why);
        }
        return false;
    };
    if (!server.starts_with("postgresql://") && !server.starts_with("postgres://")) {
        return refuse(
            TrText("RecordForwarder", "记录服务器地址须以 postgresql:// 或 postgres:// 开头"));
    }
    for (const char c : server) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            return refuse(TrText("RecordForwarder", "记录服务器地址含有控制字符"));
        }
    }
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(server.c_str(), &message);
    if (options == nullptr) {
        std::string why =
            FormatText(TrText("RecordForwarder", "记录服务器地址无效：%1"), {OneLine(message)});
        PQfreemem(message);
        return refuse(std::move(why));
    }
    PQconninfoFree(options);
    return true;
}

bool RecordForwarder::WaitUntil(Clock::time_point until, bool wakeable) {
    std::unique_lock lock(m_mutex);
    m_wakeup.wait_until(lock, until, [&] { return m_stopping.load() || (wakeable && m_woken); });
    if (wakeable) {
        m_woken = false;
    }
    return !m_stopping.load();
}

void RecordForwarder::Run() {
    const auto retryMin = std::max(m_options.retryMin, std::chrono::milliseconds(1));
    const auto retryMax = std::max(m_options.retryMax, retryMin);
    const int batchSize = std::clamp(m_options.batch, 1, kMaxBatch);
    const int connectTimeout = std::max(m_options.connectTimeoutSeconds, 1);
    const std::chrono::seconds queryTimeout(std::max(m_options.queryTimeoutSeconds, 1));

    std::string invalid;
    const bool serverValid = ValidServer(m_server, &invalid);

    std::unique_ptr<RecordStore> store;
    PgConn conn;
    bool tableReady = false;  // for this connection
    std::int64_t waiting = -1;
    bool reported = false;
    std::int64_t reportedWaiting = 0;
    std::string reportedError;
    auto publish = [&](const std::string& error) {
        const std::int64_t shown = std::max<std::int64_t>(waiting, 0);
        m_waiting = shown;
        if (reported && shown == reportedWaiting && error == reportedError) {
            return;
        }
        reported = true;
        reportedWaiting = shown;
        reportedError = error;
        if (m_status) {
            m_status(shown, error);
        }
    };

    // The server's side of one batch: the table when this connection has not
    // seen it yet, then every record in one INSERT, one transaction.
    auto send = [&](const std::vector<StoredRecord>& batch, std::string* error) {
        if (!tableReady) {
            const std::string table = kServerTable;
            PgResult found = Exec(conn.get(), "SELECT to_regclass($1) IS NOT NULL", {table.c_str()},
                                  PGRES_TUPLES_OK, queryTimeout, m_stopping, error);
            if (!found) {
                return false;
            }
            const bool exists =
                PQntuples(found.get()) == 1 && std::strcmp(PQgetvalue(found.get(), 0, 0), "t") == 0;
            // Only a missing table is created: a user who may write into
            // the table a DBA made need not be allowed to create one.
            if (!exists && !Exec(conn.get(), CreateTableSql(), {}, PGRES_COMMAND_OK, queryTimeout,
                                 m_stopping, error)) {
                return false;
            }
            tableReady = true;
        }
        std::vector<std::string> values;
        values.reserve(batch.size() * kColumns);
        for (const StoredRecord& stored : batch) {
            RecordValues(stored.record, &values);
        }
        std::vector<const char*> pointers;
        pointers.reserve(values.size());
        for (const std::string& value : values) {
            pointers.push_back(value.c_str());
        }
        return static_cast<bool>(Exec(conn.get(), InsertSql(batch.size()), pointers,
                                      PGRES_COMMAND_OK, queryTimeout, m_stopping, error));
    };

    enum class Step { Idle, Sent, Failed };
    // One round: count what waits, take the oldest batch, send it, mark it.
    auto attempt = [&](std::string* error) {
        if (!store) {
            store = RecordStore::Open(m_dbPath, RecordStore::Mode::ReadWrite, error);
            if (!store) {
                *error =
                    FormatText(TrText("RecordForwarder", "无法打开本地记录数据库：%1"), {*error});
                return Step::Failed;
            }
        }
        error->clear();
        const std::int64_t count = store->UnforwardedCount(error);
        if (count < 0 || !error->empty()) {
            *error = FormatText(TrText("RecordForwarder", "无法读取本地记录数据库：%1"), {*error});
            return Step::Failed;
        }
        waiting = count;
        if (!serverValid) {
            *error = invalid;
            return Step::Failed;
        }
        if (count == 0) {
            return Step::Idle;
        }
        const std::vector<StoredRecord> batch = store->Unforwarded(batchSize, error);
        if (!error->empty()) {
            *error = FormatText(TrText("RecordForwarder", "无法读取本地记录数据库：%1"), {*error});
            return Step::Failed;
        }
        if (batch.empty()) {
            waiting = 0;
            return Step::Idle;
        }
        // A connection kept from the last batch may have been closed by the
        // server in between (a restart): one more try on a fresh one before
        // this counts as a failure.
        for (bool fresh = !conn;; fresh = true) {
            if (!conn) {
                conn = Connect(m_server, connectTimeout, m_stopping, error);
                tableReady = false;
                if (!conn) {
                    return Step::Failed;
                }
            }
            if (send(batch, error)) {
                break;
            }
            conn.reset();
            if (fresh || m_stopping.load()) {
                return Step::Failed;
            }
        }
        std::vector<std::int64_t> ids;
        ids.reserve(batch.size());
        for (const StoredRecord& stored : batch) {
            ids.push_back(stored.id);
        }
        // Not marked, the batch is sent again later, which changes nothing
        // on the server.
        if (!store->MarkForwarded(ids, error)) {
            *error = FormatText(TrText("RecordForwarder", "无法标记已发送的记录：%1"), {*error});
            return Step::Failed;
        }
        waiting = std::max<std::int64_t>(count - static_cast<std::int64_t>(batch.size()), 0);
        return Step::Sent;
    };

    auto backoff = retryMin;
    while (!m_stopping.load()) {
        std::string error;
        const Step step = attempt(&error);
        if (m_stopping.load()) {
            break;
        }
        if (step == Step::Sent) {
            backoff = retryMin;
            publish("");
            continue;
        }
        if (step == Step::Idle) {
            backoff = retryMin;
            publish("");
            // Now and then even without a Wake: records another program
            // committed to the same database.
            WaitUntil(Clock::now() + retryMax, true);
            continue;
        }
        // A server that failed has already lost its connection; a local
        // failure keeps it.
        publish(error);
        // A Wake cuts the wait short, but not below retryMin: a station that
        // commits many records while the server is down does not hammer it.
        const auto failedAt = Clock::now();
        if (WaitUntil(failedAt + retryMin, false)) {
            WaitUntil(failedAt + backoff, true);
        }
        backoff = std::min(backoff * 2, retryMax);
    }
}

}  // namespace kx
