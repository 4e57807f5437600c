// The records of the messages handed to devices, kept in memory while a
// device holds them, for a store that may not answer when the device
// reports (a database that is away): the outcome is settled on the record
// the device was handed, never lost because the store could not give it.
//
// Thread-safe; holds at most what the devices hold.
#pragma once

#include "messagefile/MessageRecord.h"

#include <map>
#include <mutex>
#include <vector>

namespace velmo::queue {

class HandedRecords {
public:
    // Keeps a reference to the record until Take.
    void Hold(messagefile::MessageRecord& record)
    {
        std::lock_guard<std::mutex> hold(lock_);
        held_[record.Id] = messagefile::RecordPtr(&record);
    }
    // The ids of the records held now.
    std::vector<GUID> Ids()
    {
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<GUID> ids;
        for (const auto& [id, record] : held_)
            ids.push_back(id);
        return ids;
    }
    // The record of that id, no longer held; null when none is.
    messagefile::RecordPtr Take(const GUID& id)
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = held_.find(id);
        if (it == held_.end())
            return nullptr;
        messagefile::RecordPtr record = std::move(it->second);
        held_.erase(it);
        return record;
    }

private:
    std::mutex lock_;
    std::map<GUID, messagefile::RecordPtr, GuidByteLess> held_;
};

}  // namespace velmo::queue
