// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace kx {

// Sends the station's committed records, oldest first, to the line's
// PostgreSQL server, on a thread of its own. A server that is down or
// unreachable only delays the sending: the records wait in the local
// database and the sender tries again. Each record arrives once: its UUID
// is the server table's key, an insert of a record already there changes
// nothing, and a record is marked forwarded locally after the server
// committed it.
class RecordForwarder {
public:
    struct Options {
        std::chrono::milliseconds retryMin{500};
        std::chrono::milliseconds retryMax{10000};
        int batch = 200;
        int connectTimeoutSeconds = 3;
        // A statement the server has not answered within this is given up
        // and the connection dropped (a server that accepts but hangs).
        int queryTimeoutSeconds = 30;
    };
    // Runs on the sender's thread whenever the count of waiting records or
    // the last error changes ("" once the server answers again).
    using Status = std::function<void(std::int64_t waiting, const std::string& error)>;

    // `dbPath`: the local database (opened by the sender itself);
    // `server`: a libpq URI, "postgresql://user@host[:port]/db".
    RecordForwarder(std::string dbPath, std::string server, Status status, Options options);
    RecordForwarder(std::string dbPath, std::string server, Status status)
        : RecordForwarder(std::move(dbPath), std::move(server), std::move(status), Options{}) {}
    ~RecordForwarder();  // Stop
    RecordForwarder(const RecordForwarder&) = delete;
    RecordForwarder& operator=(const RecordForwarder&) = delete;

    void Start();
    // New records were committed: send without waiting for the next retry.
    void Wake();
    // Ends the thread within about the connect timeout: in practice some
    // 50 ms, as the sender looks at Stop between short waits on the server;
    // only a host name lookup, which libpq makes blocking, can take as long
    // as the system's resolver allows.
    void Stop();
    std::int64_t Waiting() const;

    // A server address the sender accepts: "postgresql://" or "postgres://"
    // URIs. False with a reason otherwise.
    static bool ValidServer(const std::string& server, std::string* reason);

    // The server's table, created by the sender when it is missing.
    static constexpr const char* kServerTable = "kaldrix_test_records";

private:
    void Run();
    // Waits until `until`, Stop, or (with `wakeable`) Wake; true unless
    // stopping.
    bool WaitUntil(std::chrono::steady_clock::time_point until, bool wakeable);

    const std::string m_dbPath;
    const std::string m_server;
    const Status m_status;
    const Options m_options;
    std::atomic<std::int64_t> m_waiting{0};
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::condition_variable m_wakeup;
    bool m_woken = false;      // under m_mutex
    std::mutex m_threadMutex;  // Start and Stop from different threads
    std::thread m_thread;
};

}  // namespace kx
