#include "handlers/script/ScriptHandler.h"

#include "platform/EventLog.h"
#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/Process.h"
#include "platform/SysRoot.h"
#include "platform/SystemTime.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "platform/Variant.h"

#include <algorithm>
#include <cstdio>

namespace velmo::scripthandler {

namespace {

constexpr DWORD kScriptTime = 30000;
constexpr std::size_t kReplyLimit = 64 * 1024;
constexpr int kBreakStatus = 100;

constexpr DispArg kOnIncomingArgs[] = {{u"Message", VT_DISPATCH, ArgDir::In, false}};
constexpr DispMember kMembers[] = {{u"OnIncoming", 1, DISPATCH_METHOD, VT_I4, kOnIncomingArgs}};
constexpr DispInterface kInterface{u"IScriptHandler", nullptr, IID_IDispatch, u"Script handler", kMembers};

void Warn(const std::string& text) { ReportEventText(u"velmosvc", EVENTLOG_WARNING_TYPE, text); }

template <class Interface>
std::string Read(Interface* message, HRESULT (Interface::*getter)(BSTR*))
{
    Bstr value;
    if (FAILED((message->*getter)(value.Receive())))
        return {};
    return value.Utf8();
}

// The programs of handlers.d, in name order.
std::vector<std::string> Programs(const std::string& folder)
{
    std::vector<std::string> names;
    for (FolderEntry& e : ListFolder(folder))
        if (!e.name.empty() && e.name[0] != '.' && IsExecutableFile(folder + e.name))
            names.push_back(std::move(e.name));
    std::sort(names.begin(), names.end());
    return names;
}

bool Blank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

void SendReply(IVelmo* message, std::string text, const std::string& program)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    ComPtr<IVelmo> reply;
    if (FAILED(message->Reply(reply.Receive())) || !reply) {
        Warn("Script handler: cannot reply to the sender for [" + program + "]");
        return;
    }
    Variant none;
    Variant body = Variant::FromBstr(Utf8ToUtf16(text));
    Variant id;
    if (FAILED(reply->Send(none, body, &id)))
        Warn("Script handler: the reply of [" + program + "] was not queued");
}

}  // namespace

std::string IsoUtc(DATE date)
{
    SYSTEMTIME t{};
    if (!VariantTimeToSystemTime(date, &t))
        return {};
    return IsoDate(t);
}

ScriptHandler::ScriptHandler() : DispatchObject(kInterface) {}

HRESULT ScriptHandler::Call(const DispMember&, std::span<Variant> args, VARIANT* result)
{
    LONG answer = OnIncoming(args[0].pdispVal);
    if (result) {
        Variant v = Variant::FromI4(answer);
        v.Detach(result);
    }
    return S_OK;
}

LONG ScriptHandler::OnIncoming(IDispatch* dispatch)
{
    ComPtr<IVelmo> message;
    if (!dispatch || FAILED(dispatch->QueryInterface(IID_IVelmo, message.ReceiveVoid())))
        return velmoContinue;
    std::string id;
    ComPtr<IVelmoReceived> received;
    if (SUCCEEDED(dispatch->QueryInterface(IID_IVelmoReceived, received.ReceiveVoid())))
        id = Read(received.get(), &IVelmoReceived::get_Id);
    std::string from = Read(message.get(), &IVelmo::get_From);
    std::string body = Read(message.get(), &IVelmo::get_Body);
    Variant date;
    std::string when;
    if (SUCCEEDED(message->get_Date(&date)) && date.vt == VT_DATE)
        when = IsoUtc(date.date);

    std::string folder = Utf16ToUtf8(InstallationRoot()) + "handlers.d/";
    for (const std::string& name : Programs(folder)) {
        ProgramRun run;
        run.path = folder + name;
        run.environment = {"VELMO_ID=" + id, "VELMO_FROM=" + from, "VELMO_DATE=" + when, "VELMO_BODY=" + body};
        run.input = body;
        run.outputLimit = kReplyLimit;
        run.timeoutMs = DesignWait(kScriptTime);
        ProgramResult r = RunProgram(run);
        if (r.stopped)
            return velmoContinue;  // the service is stopping
        if (!r.started) {
            Warn("Script handler: [" + run.path + "] could not be started");
            continue;
        }
        if (r.timedOut) {
            Warn("Script handler: [" + run.path + "] ran longer than 30 s and was ended");
            continue;
        }
        if (r.exitCode != 0 && r.exitCode != kBreakStatus) {
            Warn("Script handler: [" + run.path + "] ended with status " +
                 std::to_string(r.exitCode >= 0 ? r.exitCode : 128 + r.signal));
            continue;
        }
        if (!Blank(r.output))
            SendReply(message.get(), r.output, run.path);
        if (r.exitCode == kBreakStatus)
            return velmoBreak;
    }
    return velmoContinue;
}

}  // namespace velmo::scripthandler
