// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/record_forwarder.h"
#include "records/record_writer.h"
#include "records/test_record.h"

namespace kx {

// Where the station's records go and whose they are.
struct RecordsSetup {
    std::string dbPath;        // the local database
    std::string server;        // the line's PostgreSQL server; "" for none
    std::string station;       // written into each record
    std::string operatorName;  // written into each record
};

// The station's record keeping, owned by the application and outliving the
// main window: the writer thread that commits each closed panel's records to
// the local database and, with a server, the sender that forwards them.
// Both threads report here; the signals reach the window's thread queued.
//
// Closing (Close, or the destructor) ends them in order: the writer first,
// draining what is queued within its bound, then the sender, within its
// connect timeout.
class RecordsService : public QObject {
    Q_OBJECT

public:
    // How long closing waits for queued records to be written.
    static constexpr std::chrono::milliseconds kDrainTimeout{5000};

    // Opens the database (creating it) and starts the threads. Null with
    // `error` set (English) when the database cannot be opened.
    static std::unique_ptr<RecordsService> Start(const RecordsSetup& setup, std::string* error);
    ~RecordsService() override;

    const RecordsSetup& Setup() const { return setup_; }
    bool HasServer() const { return forwarder_ != nullptr; }

    // Queues one closed panel's records; any thread, returns at once.
    void Submit(std::vector<TestRecord> batch);
    // Waits until every batch queued so far is committed; false on timeout.
    bool Flush(std::chrono::milliseconds timeout);
    // Records waiting for the server (0 without one).
    std::int64_t Waiting() const;
    // Writer drained (bounded), then the sender stopped. Idempotent.
    void Close();

signals:
    // A batch is in the database (and only then).
    void committed(std::shared_ptr<const std::vector<TestRecord>> batch);
    // A batch could not be written; it stays queued and is tried again.
    void writeFailed(const QString& error);
    // The server's queue: waiting records, and the last error ("" once the
    // server answers).
    void forwardingChanged(qint64 waiting, const QString& error);

private:
    explicit RecordsService(RecordsSetup setup) : setup_(std::move(setup)) {}

    RecordsSetup setup_;
    std::unique_ptr<RecordWriter> writer_;
    std::unique_ptr<RecordForwarder> forwarder_;
};

}  // namespace kx
