// NewSMS and MessageCenter in process, called the way the bus bridge and
// event handlers call them: through IDispatch::Invoke.
#include "platform/MainLoop.h"
#include "platform/SystemTime.h"
#include "service/EventCapture.h"
#include "service/Invoke.h"
#include "service/ServiceRoot.h"
#include "service/automation/MessageCenter.h"
#include "service/automation/NewSms.h"
#include "service/host/ServiceModule.h"

using velmo::Bstr;
using velmo::Variant;
using velmo::automation::MessageCenter;
using velmo::automation::NewSms;

namespace {

class Automation : public ::testing::Test {
protected:
    Automation()
    {
        module.mainThreadId = GetCurrentThreadId();
        module.dispatcher.Devices().Add(1, u"Loop", kLoopback, velmo::Utf8ToUtf16(Loopback(1, Param("result", "ok"))));
        module.dispatcher.Devices().Add(2, u"Fails", kLoopback,
                                        velmo::Utf8ToUtf16(Loopback(2, Param("result", "retry"))));
        module.dispatcher.Devices().AddRule(u"retry", 2, false);
        module.dispatcher.Devices().SetDefaultDevice(1);
        module.dispatcher.retryMax = 1;
    }
    ~Automation() override { module.dispatcher.Stop(); }
    ServiceRoot root;
    velmo::host::ServiceModule module{root.root()};
};

TEST_F(Automation, NewObjectReadsEmptyAndRefusesReplyAndForward)
{
    auto* sms = new NewSms(module);
    EXPECT_EQ(Call(sms, u"From", DISPATCH_PROPERTYGET).result.vt, VT_BSTR);
    EXPECT_EQ(Bstr(Call(sms, u"From", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"");
    EXPECT_EQ(Call(sms, u"Date", DISPATCH_PROPERTYGET).result.vt, VT_EMPTY);
    Outcome reply = Call(sms, u"Reply", DISPATCH_METHOD);
    EXPECT_EQ(reply.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(reply.source, "Velmo.NewSMS");
    EXPECT_EQ(reply.description, "Cannot reply to this message");
    EXPECT_EQ(Call(sms, u"Forward", DISPATCH_METHOD).description, "Cannot forward this message");
    EXPECT_EQ(sms->InterfaceSupportsErrorInfo(IID_IVelmo), S_OK);
    EXPECT_EQ(sms->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    sms->Release();
}

TEST_F(Automation, SendTakesStringArgumentsAndOtherwiseTheProperties)
{
    module.dispatcher.Start();
    auto* sms = new NewSms(module);
    Outcome none = Call(sms, u"Send", DISPATCH_METHOD, {Variant::FromI4(4917), Omitted()});
    EXPECT_EQ(none.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(none.description, "Must specify To address");

    ASSERT_EQ(Call(sms, u"To", DISPATCH_PROPERTYPUT, {Variant::FromBstr(u"+4917")}).hr, S_OK);
    ASSERT_EQ(Call(sms, u"Body", DISPATCH_PROPERTYPUT, {Variant::FromBstr(u"set before")}).hr, S_OK);
    Outcome first = Call(sms, u"Send", DISPATCH_METHOD);
    ASSERT_EQ(first.hr, S_OK);
    ASSERT_EQ(first.result.vt, VT_BSTR);
    std::u16string id1(first.result.bstrVal);
    EXPECT_EQ(id1.size(), 38u);
    Outcome second = Call(sms, u"Send", DISPATCH_METHOD, {Variant::FromI4(1), Variant::FromBstr(u"new body")});
    ASSERT_EQ(second.hr, S_OK);
    std::u16string id2(second.result.bstrVal);
    EXPECT_NE(id1, id2);
    EXPECT_EQ(Bstr(Call(sms, u"To", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"+4917");  // the number was ignored
    EXPECT_EQ(Bstr(Call(sms, u"Body", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"new body");
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 2; }));
    for (const auto& id : {id1, id2})
        EXPECT_TRUE(std::filesystem::exists(root.folderPath("out/sent") + velmo::Utf16ToUtf8(id) + ".velmo"));
    sms->Release();
}

TEST_F(Automation, ATextOverTheLimitIsRefusedAndNothingIsQueued)
{
    module.dispatcher.Start();
    auto* sms = new NewSms(module);
    const std::u16string longest(NewSms::kMaxBody, u'x');
    const std::u16string over = longest + u"x";
    const std::string refused = "The text is longer than 40000 characters: it is refused";
    ASSERT_EQ(Call(sms, u"Body", DISPATCH_PROPERTYPUT, {Variant::FromBstr(u"kept")}).hr, S_OK);
    Outcome put = Call(sms, u"Body", DISPATCH_PROPERTYPUT, {Variant::FromBstr(over)});
    EXPECT_EQ(put.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(put.description, refused);
    EXPECT_EQ(Bstr(Call(sms, u"Body", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"kept");
    Outcome send = Call(sms, u"Send", DISPATCH_METHOD, {Variant::FromBstr(u"+4917"), Variant::FromBstr(over)});
    EXPECT_EQ(send.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(send.description, refused);
    EXPECT_TRUE(root.Files("out").empty());
    EXPECT_TRUE(root.Files("out/sent").empty());
    ASSERT_EQ(Call(sms, u"Send", DISPATCH_METHOD, {Variant::FromBstr(u"+4917"), Variant::FromBstr(longest)}).hr, S_OK);
    EXPECT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 1; }));
    sms->Release();
}

TEST_F(Automation, SendWhileTheDispatcherRefusesFails)
{
    auto* sms = new NewSms(module);  // the dispatcher was never started
    Outcome out = Call(sms, u"Send", DISPATCH_METHOD, {Variant::FromBstr(u"+4917"), Variant::FromBstr(u"x")});
    EXPECT_EQ(out.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(out.description, "Dispatcher failed queuing message.");
    EXPECT_TRUE(root.Files("out").empty());
    sms->Release();
}

TEST_F(Automation, ReplyAndForwardOfAReceivedMessage)
{
    const GUID id = velmo::MakeGuid("{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}");
    NewSms* received = NewSms::ForReceived(module, id, Bstr(u"+4915"), Bstr(u"Is db1 back?"), 46000.5);
    EXPECT_EQ(Call(received, u"Date", DISPATCH_PROPERTYGET).result.date, 46000.5);
    // Its stored id, for a handler that records what it has done; a new
    // message has none.
    velmo::ComPtr<IVelmoReceived> asReceived;
    ASSERT_EQ(received->QueryInterface(IID_IVelmoReceived, asReceived.ReceiveVoid()), S_OK);
    Bstr stored;
    EXPECT_EQ(asReceived->get_Id(stored.Receive()), S_OK);
    EXPECT_EQ(stored.str(), velmo::GuidToString(id));
    EXPECT_EQ(asReceived->get_Id(nullptr), E_POINTER);
    Outcome reply = Call(received, u"Reply", DISPATCH_METHOD);
    ASSERT_EQ(reply.hr, S_OK);
    ASSERT_EQ(reply.result.vt, VT_DISPATCH);
    IDispatch* r = reply.result.pdispVal;
    EXPECT_EQ(Bstr(Call(r, u"To", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"+4915");
    EXPECT_EQ(Bstr(Call(r, u"Body", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"Is db1 back?");
    EXPECT_EQ(Bstr(Call(r, u"From", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"");
    EXPECT_EQ(Call(r, u"Date", DISPATCH_PROPERTYGET).result.vt, VT_EMPTY);
    velmo::ComPtr<IVelmoReceived> replyReceived;
    ASSERT_EQ(r->QueryInterface(IID_IVelmoReceived, replyReceived.ReceiveVoid()), S_OK);
    Bstr none;
    EXPECT_EQ(replyReceived->get_Id(none.Receive()), S_FALSE);
    EXPECT_EQ(none.str(), u"");
    Outcome forward = Call(received, u"Forward", DISPATCH_METHOD);
    ASSERT_EQ(forward.hr, S_OK);
    IDispatch* f = forward.result.pdispVal;
    EXPECT_EQ(Bstr(Call(f, u"To", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"");
    EXPECT_EQ(Bstr(Call(f, u"Body", DISPATCH_PROPERTYGET).result.bstrVal).str(), u"Is db1 back?");
    received->Release();
}

double ToDate(const SYSTEMTIME& t)
{
    DATE d = 0;
    SystemTimeToVariantTime(&t, &d);
    return d;
}

TEST_F(Automation, QueryMessageStatusFollowsTheMessage)
{
    auto* center = new MessageCenter(module, module.store, module);
    velmo::ComPtr<IVelmo> sms;
    ASSERT_EQ(center->NewMessage(sms.Receive()), S_OK);
    // Queued and not yet taken: the dispatcher runs, the devices do not.
    auto* queued = new velmo::messagefile::MessageRecord();
    queued->Initialise();
    queued->To = Bstr(u"+49");
    ASSERT_EQ(queued->SaveToFile(root.root() + u"out/" + queued->FileName()), S_OK);
    std::u16string queuedId = velmo::GuidToString(queued->Id);
    Variant text, date;
    text.vt = VT_EMPTY;
    auto query = [&](const std::u16string& id) {
        return Call(center, u"QueryMessageStatus", DISPATCH_METHOD, {Variant::FromBstr(id), Variant(), Variant()});
    };
    // Out-arguments by reference, as an automation client passes them.
    auto queryOut = [&](const std::u16string& id, VARIANT* t, VARIANT* d) {
        Variant tRef, dRef;
        tRef.vt = VT_BYREF | VT_VARIANT;
        tRef.pvarVal = t;
        dRef.vt = VT_BYREF | VT_VARIANT;
        dRef.pvarVal = d;
        Outcome o = Call(center, u"QueryMessageStatus", DISPATCH_METHOD, {Variant::FromBstr(id), tRef, dRef});
        tRef.vt = VT_EMPTY;  // borrowed
        dRef.vt = VT_EMPTY;
        return o;
    };
    Outcome q = queryOut(queuedId, &text, &date);
    ASSERT_EQ(q.hr, S_OK);
    EXPECT_EQ(q.result.lVal, QUEUED);
    EXPECT_EQ(text.vt, VT_BSTR);
    EXPECT_EQ(date.vt, VT_DATE);
    EXPECT_EQ(date.date, ToDate(queued->Created));
    queued->Release();

    module.dispatcher.Start();
    GUID sentId{}, failedId{};
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"+4917"), Bstr(u"ok"), &sentId), S_OK);
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"retry-me"), Bstr(u"no"), &failedId), S_OK);
    // Finished means the queue copy is gone too: until then the query may
    // still find it in out/ with its old status.
    ASSERT_TRUE(WaitUntil([&] {
        return root.Files("out/sent").size() == 1 && root.Files("out/failed").size() == 1 &&
               root.Files("out").size() == 1;  // only the message that no device was given
    }));

    Variant sentText, sentDate;
    q = queryOut(velmo::GuidToString(sentId), &sentText, &sentDate);
    EXPECT_EQ(q.result.lVal, SENT);
    std::optional<velmo::queue::Found> found = module.store.Find(sentId);
    ASSERT_TRUE(found && found->record);
    velmo::messagefile::RecordPtr sent = found->record;
    EXPECT_EQ(sentDate.date, ToDate(sent->Completed));
    Variant failedText, failedDate;
    q = queryOut(velmo::GuidToString(failedId), &failedText, &failedDate);
    EXPECT_EQ(q.result.lVal, FAILED);
    EXPECT_TRUE(Bstr(failedText.bstrVal).str().ends_with(u"\r\nAttempted too many retries"));

    // Only the status when the outputs are omitted.
    q = Call(center, u"QueryMessageStatus", DISPATCH_METHOD, {Variant::FromBstr(velmo::GuidToString(sentId))});
    EXPECT_EQ(q.hr, S_OK);
    EXPECT_EQ(q.result.lVal, SENT);

    // A received message is never found, and outputs stay untouched.
    auto* in = new velmo::messagefile::MessageRecord();
    in->Initialise();
    in->Status = RECEIVED;
    ASSERT_EQ(in->SaveToFile(root.root() + u"in/" + in->FileName()), S_OK);
    Variant untouched = Variant::FromI4(77), untouchedDate;
    q = queryOut(velmo::GuidToString(in->Id), &untouched, &untouchedDate);
    EXPECT_EQ(q.hr, S_OK);
    EXPECT_EQ(q.result.lVal, NOT_FOUND);
    EXPECT_EQ(untouched.vt, VT_I4);
    EXPECT_EQ(untouchedDate.vt, VT_EMPTY);
    in->Release();

    EXPECT_EQ(query(u"01020304-0506-0708-090A-0B0C0D0E0F10").hr, CO_E_CLASSSTRING);
    EXPECT_EQ(query(u"{0102}").hr, CO_E_CLASSSTRING);
    EXPECT_EQ(Call(center, u"AddMessageMonitor", DISPATCH_METHOD, {Variant::FromBstr(queuedId)}).hr, E_NOTIMPL);
    EXPECT_EQ(Call(center, u"GetMessage", DISPATCH_METHOD, {Variant::FromBstr(queuedId)}).hr, E_NOTIMPL);
    Outcome made = Call(center, u"NewMessage", DISPATCH_METHOD);
    ASSERT_EQ(made.hr, S_OK);
    EXPECT_EQ(made.result.vt, VT_DISPATCH);
    center->Release();
}

TEST_F(Automation, ObjectsAreCountedWhileTheyLive)
{
    long before = velmo::automation::LiveObjects();
    auto* center = new MessageCenter(module, module.store, module);
    IVelmo* sms = nullptr;
    ASSERT_EQ(center->NewMessage(&sms), S_OK);
    EXPECT_EQ(velmo::automation::LiveObjects(), before + 2);
    sms->Release();
    center->Release();
    EXPECT_EQ(velmo::automation::LiveObjects(), before);
}

}  // namespace
