// The queue under I/O faults and crashes, in process. A seam of the file
// layer fails the Nth call of one kind (open, read, write, sync of a file or
// a folder, rename, unlink), or records every call that changes the disk,
// so that each crash point can be replayed with only what was synced
// surviving. Each run: three Sends and two pickup files through a loopback
// device, then a restart on what is on disk.
#include "platform/File.h"
#include "platform/FileFault.h"
#include "platform/MainLoop.h"
#include "service/EventCapture.h"
#include "service/ServiceRoot.h"
#include "service/host/ServiceModule.h"
#include "messagefile/QueueFolders.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

using velmo::Bstr;
using velmo::FileOp;
using velmo::host::ServiceModule;
using velmo::messagefile::MessageRecord;

namespace {

constexpr int kSends = 3;
constexpr int kPickups = 2;
const char* const kOpNames[] = {"open", "read", "write", "fsync", "fsync folder", "rename", "unlink"};

std::u16string SendBody(int i) { return u"send " + velmo::Utf8ToUtf16(std::to_string(i)); }
std::u16string PickupBody(int i) { return u"pickup " + velmo::Utf8ToUtf16(std::to_string(i)); }

// A dispatcher over a root with one loopback device that sends everything.
class Gateway {
public:
    explicit Gateway(const ServiceRoot& root) : module(root.root())
    {
        module.mainThreadId = GetCurrentThreadId();
        EXPECT_EQ(module.dispatcher.Devices().Add(1, u"Loop", kLoopback, velmo::Utf8ToUtf16(Loopback(1))), S_OK);
        module.dispatcher.Devices().SetDefaultDevice(1);
    }
    ~Gateway()
    {
        module.dispatcher.Stop();
        while (velmo::RunMainLoop(0) != velmo::LoopEvent::TimedOut) {
        }
    }
    bool Idle()
    {
        return WaitUntil([&] { return module.dispatcher.InFlight() == 0; }, std::chrono::seconds(20));
    }
    // A restart: what waits in out/ and pickup/ is taken and sent.
    void Recover()
    {
        module.dispatcher.LoadStoredMessages();
        module.dispatcher.Start();
        for (int scan = 0; scan < 2; ++scan) {
            module.dispatcher.ScanPickup();
            EXPECT_TRUE(Idle());
        }
    }
    ServiceModule module;
};

void DropPickups(const ServiceRoot& root)
{
    for (int i = 0; i < kPickups; ++i) {
        auto* r = new MessageRecord();
        r->Initialise();
        r->To = Bstr(u"+4917");
        r->Body = Bstr(PickupBody(i));
        ASSERT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(root.folderPath("pickup") + "drop" + std::to_string(i) + ".velmo")),
                  S_OK);
        r->Release();
    }
}

// The bodies of the messages in a folder, counted.
std::map<std::u16string, int> Bodies(const ServiceRoot& root, const std::string& folder,
                                     std::vector<GUID>* ids = nullptr)
{
    std::map<std::u16string, int> bodies;
    for (const std::string& name : root.Files(folder)) {
        auto* r = new MessageRecord();
        if (SUCCEEDED(r->LoadFromFile(velmo::Utf8ToUtf16(root.folderPath(folder) + name)))) {
            ++bodies[r->Body.str()];
            if (ids)
                ids->push_back(r->Id);
        }
        r->Release();
    }
    return bodies;
}

struct Outcome {
    int refused = 0;  // Sends that gave no id
};

// The three Sends and one scan of the two pickup files.
Outcome Traffic(Gateway& gateway, std::vector<std::pair<GUID, std::u16string>>& accepted,
                const std::function<void()>& afterAccept = {})
{
    Outcome outcome;
    gateway.module.dispatcher.Start();
    for (int i = 0; i < kSends; ++i) {
        GUID id{};
        if (gateway.module.dispatcher.QueueMessage(Bstr(u"+4917"), Bstr(SendBody(i)), &id) == S_OK) {
            accepted.emplace_back(id, SendBody(i));
            if (afterAccept)
                afterAccept();
        } else {
            ++outcome.refused;
        }
    }
    gateway.module.dispatcher.ScanPickup();
    EXPECT_TRUE(gateway.Idle());
    return outcome;
}

// After a restart every accepted Send and every pickup file is sent exactly
// once, no Send that was refused is sent, nothing good is in bad/ and
// nothing waits.
void CheckRecovered(const ServiceRoot& root, const std::vector<std::pair<GUID, std::u16string>>& accepted,
                    bool othersRefused, const std::string& where)
{
    std::vector<GUID> sentIds;
    std::map<std::u16string, int> sent = Bodies(root, "out/sent", &sentIds);
    for (const auto& [id, body] : accepted) {
        EXPECT_TRUE(std::find(sentIds.begin(), sentIds.end(), id) != sentIds.end())
            << where << ": lost " << velmo::Utf16ToUtf8(body);
        EXPECT_EQ(sent[body], 1) << where << ": " << velmo::Utf16ToUtf8(body);
    }
    for (int i = 0; i < kSends; ++i) {
        bool wasAccepted =
            std::any_of(accepted.begin(), accepted.end(), [&](auto& a) { return a.second == SendBody(i); });
        if (othersRefused && !wasAccepted) {
            EXPECT_EQ(sent[SendBody(i)], 0) << where << ": a refused Send was sent";
        }
    }
    for (int i = 0; i < kPickups; ++i)
        EXPECT_EQ(sent[PickupBody(i)], 1) << where << ": pickup " << i;
    EXPECT_TRUE(root.Files("bad").empty()) << where;
    EXPECT_TRUE(root.Files("out").empty()) << where;
    EXPECT_TRUE(root.Files("out/failed").empty()) << where;
    EXPECT_TRUE(root.Files("pickup").empty()) << where;
}

bool Under(const std::string& path, const std::string& root) { return path.rfind(root, 0) == 0; }

TEST(QueueFaults, EveryInjectedFaultKeepsEveryAcceptedMessage)
{
    std::printf("fault matrix (one EIO at the Nth call of a kind, N = 1..24):\n");
    for (int op = 0; op < 7; ++op) {
        int runs = 0, refused = 0, injected = 0;
        for (int n = 1; n <= 24; ++n) {
            ServiceRoot root;
            DropPickups(root);
            std::string folder = root.folderPath("");
            std::mutex lock;
            int calls = 0;
            bool fired = false;
            velmo::SetFileFaultHook([&](FileOp kind, const std::string& path, const std::string&) {
                std::lock_guard hold(lock);
                if (static_cast<int>(kind) != op || !Under(path, folder) || ++calls != n)
                    return 0;
                fired = true;
                return EIO;
            });
            std::vector<std::pair<GUID, std::u16string>> accepted;
            Outcome outcome;
            {
                Gateway gateway(root);
                outcome = Traffic(gateway, accepted);
            }
            velmo::SetFileFaultHook(nullptr);
            {
                Gateway restarted(root);
                restarted.Recover();
            }
            std::string where = std::string(kOpNames[op]) + " #" + std::to_string(n);
            CheckRecovered(root, accepted, true, where);
            ++runs;
            refused += outcome.refused;
            injected += fired;
            if (HasFailure())
                return;
        }
        std::printf("  %-13s %2d runs, %2d faults injected, %d Sends refused, 0 lost, 0 in bad/\n", kOpNames[op], runs,
                    injected, refused);
    }
}

// What the recorder saw: the calls that change what a crash leaves, in
// order (a file comes into being, for this model, when it is synced).
struct Recorded {
    FileOp op;
    std::string path, target, content;
};

// The disk as a crash would leave it: only entries whose folder was synced
// after they changed, with the content their file had when it was synced.
class CrashModel {
public:
    explicit CrashModel(std::map<std::string, std::string> initial) : live_(initial), lasting_(std::move(initial)) {}
    void Apply(const Recorded& r)
    {
        switch (r.op) {
        case FileOp::Sync:
            live_[r.path] = r.content;  // every file the queue writes is synced before it is named
            break;
        case FileOp::Rename:
            if (live_.count(r.path)) {
                live_[r.target] = live_[r.path];
                live_.erase(r.path);
            }
            break;
        case FileOp::Unlink: live_.erase(r.path); break;
        case FileOp::SyncFolder: {
            std::string folder = r.path + "/";
            auto inFolder = [&](const std::string& p) {
                return p.rfind(folder, 0) == 0 && p.find('/', folder.size()) == std::string::npos;
            };
            std::erase_if(lasting_, [&](const auto& e) { return inFolder(e.first); });
            for (const auto& [path, content] : live_)
                if (inFolder(path))
                    lasting_[path] = content;
            break;
        }
        default: break;
        }
    }
    const std::map<std::string, std::string>& Lasting() const { return lasting_; }
    const std::map<std::string, std::string>& Live() const { return live_; }

private:
    std::map<std::string, std::string> live_, lasting_;
};

std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        if (!e.is_regular_file())
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        files[e.path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

// A fresh root holding the files of state (paths moved from one root to the other).
void Materialise(const std::map<std::string, std::string>& state, const std::string& from, const ServiceRoot& into)
{
    for (const auto& [path, content] : state) {
        std::string target = into.folderPath("") + path.substr(from.size());
        std::filesystem::create_directories(std::filesystem::path(target).parent_path());
        std::ofstream(target, std::ios::binary) << content;
    }
}

TEST(QueueCrashes, EveryCrashPointRecoversEveryAcceptedMessageOnce)
{
    ServiceRoot root;
    DropPickups(root);
    std::string folder = root.folderPath("");
    std::map<std::string, std::string> initial = Snapshot(folder);
    std::mutex lock;
    std::vector<Recorded> ops;
    std::vector<std::size_t> acceptedAt;  // how many calls were made when each Send returned its id
    velmo::SetFileFaultHook([&](FileOp op, const std::string& path, const std::string& target) {
        if (!Under(path, folder) || op == FileOp::Read || op == FileOp::Write || op == FileOp::Open)
            return 0;
        Recorded r{op, path, target, {}};
        if (op == FileOp::Sync) {
            std::ifstream in(path, std::ios::binary);
            r.content.assign(std::istreambuf_iterator<char>(in), {});
        }
        if (op == FileOp::SyncFolder && r.path.back() == '/')
            r.path.pop_back();
        std::lock_guard hold(lock);
        ops.push_back(std::move(r));
        return 0;
    });
    std::vector<std::pair<GUID, std::u16string>> accepted;
    {
        Gateway gateway(root);
        Traffic(gateway, accepted, [&] {
            std::lock_guard hold(lock);
            acceptedAt.push_back(ops.size());
        });
    }
    velmo::SetFileFaultHook(nullptr);
    ASSERT_EQ(accepted.size(), static_cast<std::size_t>(kSends));

    CrashModel model(initial);
    int states = 0;
    for (std::size_t k = 0; k <= ops.size(); ++k) {
        if (k > 0)
            model.Apply(ops[k - 1]);
        std::vector<std::pair<GUID, std::u16string>> due;
        for (std::size_t i = 0; i < accepted.size(); ++i)
            if (acceptedAt[i] <= k)
                due.push_back(accepted[i]);
        for (const auto* state : {&model.Lasting(), &model.Live()}) {
            ServiceRoot replay;
            Materialise(*state, folder, replay);
            {
                Gateway restarted(replay);
                restarted.Recover();
            }
            // A Send that had not returned may go either way; one that had, must not be lost.
            CheckRecovered(replay, due, false,
                           "crash after call " + std::to_string(k) + (state == &model.Live() ? " (all kept)" : ""));
            ++states;
            if (HasFailure())
                return;
        }
    }
    std::printf("crash states: %zu file calls recorded, %d states replayed (each prefix with only what was synced, and "
                "with all), every accepted message sent once after each\n",
                ops.size(), states);
}

}  // namespace
