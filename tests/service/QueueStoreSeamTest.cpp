// The dispatcher and the event-handler queue reach stored messages only
// through the queue store's interface: over a store that keeps its
// messages in memory, messages are accepted, handed to devices, retried and
// finished, and received ones stored, while the queue folders stay empty.
#include "messagefile/MessageRecord.h"
#include "service/EventCapture.h"
#include "service/ServiceRoot.h"
#include "service/handlers/EventHandlerQueue.h"
#include "service/queue/Dispatcher.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {

using velmo::Bstr;
using velmo::messagefile::MessageRecord;
using velmo::messagefile::RecordPtr;
using velmo::queue::Folder;

// Every message in memory, and the steps taken, in order.
class MemoryStore final : public velmo::queue::QueueStore {
public:
    HRESULT Accept(const MessageRecord& record) override { return Keep(record, Folder::Queued, "accept"); }
    void Withdraw(const GUID& id) override
    {
        std::lock_guard lock(mu_);
        steps_.push_back("withdraw");
        messages_.erase(id);
    }
    bool Knows(const GUID& id) override
    {
        std::lock_guard lock(mu_);
        return messages_.count(id) != 0;
    }
    RecordPtr LoadQueued(const GUID& id) override
    {
        std::lock_guard lock(mu_);
        auto it = messages_.find(id);
        if (it == messages_.end() || it->second.folder != Folder::Queued)
            return nullptr;
        return Copy(*it->second.record);
    }
    HRESULT Take(const MessageRecord&, std::u16string_view device) override
    {
        std::lock_guard lock(mu_);
        steps_.push_back("take " + velmo::Utf16ToUtf8(device));
        return S_OK;
    }
    HRESULT SaveRetry(const MessageRecord& record) override { return Keep(record, Folder::Queued, "retry"); }
    HRESULT Finish(const MessageRecord& record) override
    {
        return Keep(record, record.Status == SENT ? Folder::Sent : Folder::Failed,
                    record.Status == SENT ? "sent" : "failed");
    }
    HRESULT UpdateSent(const MessageRecord& record) override { return Keep(record, Folder::Sent, "report"); }
    int Recover(const std::function<bool(RecordPtr)>& take) override
    {
        std::vector<RecordPtr> queued;
        {
            std::lock_guard lock(mu_);
            for (auto& [id, m] : messages_)
                if (m.folder == Folder::Queued)
                    queued.push_back(Copy(*m.record));
        }
        int n = 0;
        for (RecordPtr& r : queued) {
            if (!take(r))
                break;
            ++n;
        }
        return n;
    }
    HRESULT StoreReceived(const MessageRecord& record) override
    {
        HRESULT hr = Keep(record, Folder::Received, "received");
        std::lock_guard lock(mu_);
        awaiting_.push_back(record.Id);
        return hr;
    }
    void Offered(const GUID& id) override
    {
        std::lock_guard lock(mu_);
        steps_.push_back("offered");
        awaiting_.erase(std::remove(awaiting_.begin(), awaiting_.end(), id), awaiting_.end());
    }
    std::vector<RecordPtr> AwaitingHandlers() override
    {
        std::lock_guard lock(mu_);
        std::vector<RecordPtr> waiting;
        for (const GUID& id : awaiting_)
            waiting.push_back(Copy(*messages_.at(id).record));
        return waiting;
    }
    std::optional<velmo::queue::Found> Find(const GUID& id) override
    {
        std::lock_guard lock(mu_);
        auto it = messages_.find(id);
        if (it == messages_.end())
            return std::nullopt;
        return velmo::queue::Found{Copy(*it->second.record), it->second.folder, S_OK, "memory"};
    }
    std::optional<velmo::queue::Page> List(Folder, std::size_t, std::string_view) override
    {
        return velmo::queue::Page{};
    }
    std::uint64_t CountQueued() override
    {
        std::lock_guard lock(mu_);
        return static_cast<std::uint64_t>(std::count_if(
            messages_.begin(), messages_.end(), [](const auto& m) { return m.second.folder == Folder::Queued; }));
    }

    std::vector<std::string> Steps()
    {
        std::lock_guard lock(mu_);
        return steps_;
    }
    std::optional<Folder> Where(const GUID& id)
    {
        std::lock_guard lock(mu_);
        auto it = messages_.find(id);
        return it == messages_.end() ? std::nullopt : std::optional<Folder>(it->second.folder);
    }

private:
    struct Stored {
        RecordPtr record;
        Folder folder;
    };
    static RecordPtr Copy(const MessageRecord& from)
    {
        RecordPtr copy = MessageRecord::New();
        copy->Id = from.Id;
        copy->RetryCount = from.RetryCount;
        copy->To = from.To;
        copy->Body = from.Body;
        copy->From = from.From;
        copy->Created = from.Created;
        copy->Completed = from.Completed;
        copy->Received = from.Received;
        copy->Status = from.Status;
        copy->StatusText = from.StatusText;
        copy->Accepted = from.Accepted;
        copy->Discharged = from.Discharged;
        copy->ExpireAfter = from.ExpireAfter;
        // A field the record gains without a copy here shows in its file form.
        EXPECT_EQ(copy->Serialize(), from.Serialize());
        return copy;
    }
    HRESULT Keep(const MessageRecord& record, Folder folder, const char* step)
    {
        std::lock_guard lock(mu_);
        steps_.push_back(step);
        messages_[record.Id] = Stored{Copy(record), folder};
        return S_OK;
    }

    std::mutex mu_;
    std::map<GUID, Stored, GuidByteLess> messages_;
    std::vector<std::string> steps_;
    std::vector<GUID> awaiting_;
};

class Quiet final : public velmo::events::EventSink {
public:
    void Report(WORD, const std::string&) override {}
};

class StoreSeam : public ::testing::Test {
protected:
    StoreSeam()
    {
        EXPECT_EQ(
            dispatcher.Devices().Add(1, u"Echo", kLoopback, velmo::Utf8ToUtf16(Loopback(1, Param("echo", "true")))),
            S_OK);
        EXPECT_EQ(dispatcher.Devices().Add(2, u"Busy", kLoopback,
                                           velmo::Utf8ToUtf16(Loopback(2, Param("result", "retry,ok")))),
                  S_OK);
        EXPECT_EQ(dispatcher.Devices().AddRule(u"busy", 2, false), 0);
        dispatcher.Devices().SetDefaultDevice(1);
    }
    ~StoreSeam() override
    {
        dispatcher.Stop();
        handlers.Stop();
    }

    ServiceRoot root;
    Quiet quiet;
    MemoryStore store;
    velmo::handlers::EventHandlerQueue handlers{quiet, store, [](const MessageRecord&) { return nullptr; }};
    velmo::queue::Dispatcher dispatcher{quiet, store, handlers, root.root(), [] {}};
};

TEST_F(StoreSeam, EveryStepOfAMessageGoesThroughTheStore)
{
    dispatcher.Start();
    handlers.Start();
    GUID sent{}, retried{};
    ASSERT_EQ(dispatcher.QueueMessage(Bstr(u"+4917"), Bstr(u"hello"), &sent), S_OK);
    ASSERT_EQ(dispatcher.QueueMessage(Bstr(u"busy-line"), Bstr(u"again"), &retried), S_OK);
    ASSERT_TRUE(WaitUntil([&] {
        return store.Where(sent) == Folder::Sent && store.Where(retried) == Folder::Sent && dispatcher.InFlight() == 0;
    }));
    // The echo of the first message was received and stored.
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<std::string> steps = store.Steps();
        return std::count(steps.begin(), steps.end(), "received") == 1;
    })) << ::testing::PrintToString(store.Steps());
    std::vector<std::string> steps = store.Steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "accept"), 2);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "take Echo"), 1);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "take Busy"), 2) << "once, then again after the retry";
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "retry"), 1);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "sent"), 2);
    std::optional<velmo::queue::Found> found = store.Find(retried);
    ASSERT_TRUE(found && found->record);
    EXPECT_EQ(found->record->RetryCount, 1);

    // Nothing reached the folders.
    for (const char* folder : {"out", "out/sent", "out/failed", "in"})
        EXPECT_TRUE(root.Files(folder).empty()) << folder;
}

TEST_F(StoreSeam, WhatTheStoreHoldsAtStartIsDispatched)
{
    RecordPtr waiting = MessageRecord::New();
    waiting->Initialise();
    waiting->To = Bstr(u"+4917");
    waiting->Body = Bstr(u"from before");
    ASSERT_EQ(store.Accept(*waiting), S_OK);
    EXPECT_EQ(dispatcher.LoadStoredMessages(), 1);
    dispatcher.Start();
    EXPECT_TRUE(WaitUntil([&] { return store.Where(waiting->Id) == Folder::Sent; }));
    EXPECT_EQ(store.CountQueued(), 0u);
}

TEST_F(StoreSeam, AReportIsTakenOnceOnlyForASentMessageAndPutOffForAQueuedOne)
{
    RecordPtr queued = MessageRecord::New();
    queued->Initialise();
    queued->To = Bstr(u"+4917");
    ASSERT_EQ(store.Accept(*queued), S_OK);
    RecordPtr sent = MessageRecord::New();
    sent->Initialise();
    sent->To = Bstr(u"+4918");
    sent->Status = SENT;
    ASSERT_EQ(store.Finish(*sent), S_OK);
    SYSTEMTIME when{2026, 12, 3, 9, 10, 0, 30, 0};
    auto report = [&](const GUID& id, LONG state, const char16_t* text) {
        return dispatcher.RecordDelivery(u"Echo", id, state, Bstr(text).get(), &when, &when);
    };
    GUID unknown{};
    CoCreateGuid(&unknown);
    EXPECT_EQ(report(unknown, DELIVERY_DONE, u"\r\nDelivered"), S_FALSE);
    EXPECT_EQ(report(sent->Id, 7, u"\r\nNo such state"), E_INVALIDARG);
    EXPECT_EQ(report(queued->Id, DELIVERY_DONE, u"\r\nDelivered"), E_PENDING);  // offered again once it has gone
    EXPECT_EQ(report(sent->Id, DELIVERY_PENDING, u"\r\nNot yet"), S_OK);
    EXPECT_EQ(store.Find(sent->Id)->record->Status, SENT);
    EXPECT_EQ(report(sent->Id, DELIVERY_DONE, u"\r\nDelivered"), S_OK);
    EXPECT_EQ(report(sent->Id, DELIVERY_FAILED, u"\r\nTwice"), S_FALSE);  // final already
    std::optional<velmo::queue::Found> found = store.Find(sent->Id);
    ASSERT_TRUE(found && found->record);
    EXPECT_EQ(found->folder, Folder::Sent);
    EXPECT_EQ(found->record->Status, DELIVERED);
    EXPECT_EQ(found->record->StatusText.str(), u"Not yet\r\nDelivered");
    EXPECT_EQ(found->record->Discharged.wSecond, 30);
    std::vector<std::string> steps = store.Steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "report"), 2);
}

}  // namespace
