// SPDX-License-Identifier: MIT
#include "app/records_service.h"

namespace kx {

std::unique_ptr<RecordsService> RecordsService::Start(const RecordsSetup& setup,
                                                      std::string* error) {
    std::unique_ptr<RecordStore> store =
        RecordStore::Open(setup.dbPath, RecordStore::Mode::ReadWrite, error);
    if (!store) {
        return nullptr;
    }
    std::unique_ptr<RecordsService> service(new RecordsService(setup));
    RecordsService* self = service.get();
    // The callbacks run on the writer's and the sender's threads; the
    // signals cross to the window's thread queued. Both threads end in Close,
    // before this object goes. The sender first: the writer wakes it.
    if (!setup.server.empty()) {
        service->forwarder_ = std::make_unique<RecordForwarder>(
            setup.dbPath, setup.server, [self](std::int64_t waiting, const std::string& why) {
                emit self->forwardingChanged(waiting, QString::fromStdString(why));
            });
        service->forwarder_->Start();
    }
    service->writer_ = std::make_unique<RecordWriter>(
        std::move(store),
        [self](const std::vector<TestRecord>& batch, bool ok, const std::string& why) {
            if (ok) {
                emit self->committed(std::make_shared<const std::vector<TestRecord>>(batch));
                if (self->forwarder_) {
                    self->forwarder_->Wake();
                }
            } else {
                emit self->writeFailed(QString::fromStdString(why));
            }
        });
    return service;
}

RecordsService::~RecordsService() {
    Close();
}

void RecordsService::Submit(std::vector<TestRecord> batch) {
    if (writer_) {
        writer_->Submit(std::move(batch));
    }
}

bool RecordsService::Flush(std::chrono::milliseconds timeout) {
    return writer_ == nullptr || writer_->Flush(timeout);
}

std::int64_t RecordsService::Waiting() const {
    return forwarder_ ? forwarder_->Waiting() : 0;
}

void RecordsService::Close() {
    if (writer_) {
        writer_->Stop(kDrainTimeout);
    }
    if (forwarder_) {
        forwarder_->Stop();
    }
    // The writer's callback may still look at the sender while it runs: the
    // writer goes first.
    writer_.reset();
    forwarder_.reset();
}

}  // namespace kx
