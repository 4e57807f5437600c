#include "platform/Dispatch.h"
#include "platform/ErrorInfo.h"

#include <gtest/gtest.h>

namespace {

using velmo::ArgDir;
using velmo::DispArg;
using velmo::DispMember;
using velmo::Variant;

constexpr DispArg kSendArgs[] = {
    {u"To", VT_VARIANT, ArgDir::In, true},
    {u"Body", VT_VARIANT, ArgDir::In, true},
    {u"pMsgId", VT_VARIANT, ArgDir::Retval, false},
};
constexpr DispArg kAddArgs[] = {
    {u"a", VT_I4, ArgDir::In, false},
    {u"b", VT_I4, ArgDir::In, false},
};
constexpr DispMember kMembers[] = {
    {u"To", 1, DISPATCH_PROPERTYGET, VT_BSTR, {}},
    {u"To", 1, DISPATCH_PROPERTYPUT, VT_BSTR, {}},
    {u"Send", 5, DISPATCH_METHOD, VT_VARIANT, kSendArgs},
    {u"Subtract", 6, DISPATCH_METHOD, VT_I4, kAddArgs},
};
constexpr velmo::DispInterface kIface{u"ITest", u"org.example.ITest", GUID_NULL, u"ITest Interface", kMembers};

struct Fixture : ::testing::Test {
    velmo::DispatchTable table{kIface};
    std::u16string to;
    std::vector<VARTYPE> seenTypes;

    velmo::DispCall Call()
    {
        return [this](const DispMember& m, std::span<Variant> args, VARIANT* result) -> HRESULT {
            seenTypes.clear();
            for (auto& a : args)
                seenTypes.push_back(a.vt);
            if (m.dispid == 1 && m.kind == DISPATCH_PROPERTYPUT) {
                to = args[0].bstrVal ? args[0].bstrVal : u"";
                return S_OK;
            }
            if (m.dispid == 1) {
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(to.c_str());
                return S_OK;
            }
            if (m.dispid == 6) {
                result->vt = VT_I4;
                result->lVal = args[0].lVal - args[1].lVal;
                return S_OK;
            }
            return velmo::ReportError(u"Test.Source", u"Must specify To address");
        };
    }
};

TEST_F(Fixture, NamesResolveWithoutRegardToCase)
{
    const char16_t* names[] = {u"sEnD", u"BODY"};
    DISPID ids[2];
    ASSERT_EQ(table.GetIDsOfNames(const_cast<LPOLESTR*>(names), 2, ids), S_OK);
    EXPECT_EQ(ids[0], 5);
    EXPECT_EQ(ids[1], 1);
    const char16_t* unknown[] = {u"OnIncoming"};
    EXPECT_EQ(table.GetIDsOfNames(const_cast<LPOLESTR*>(unknown), 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

TEST_F(Fixture, PositionalArgumentsArriveInDeclaredOrderAndCoerced)
{
    // rgvarg holds the last argument first: Subtract("10", 3) is {3, "10"}.
    Variant args[2] = {Variant::FromI4(3), Variant::FromBstr(u"10")};
    DISPPARAMS p{args, nullptr, 2, 0};
    Variant result;
    ASSERT_EQ(table.Invoke(6, DISPATCH_METHOD, &p, &result, nullptr, nullptr, Call()), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 7);

    Variant bad[2] = {Variant::FromI4(3), Variant::FromBstr(u"ten")};
    DISPPARAMS pb{bad, nullptr, 2, 0};
    UINT argErr = 99;
    EXPECT_EQ(table.Invoke(6, DISPATCH_METHOD, &pb, &result, nullptr, &argErr, Call()), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);

    DISPPARAMS one{args, nullptr, 1, 0};
    EXPECT_EQ(table.Invoke(6, DISPATCH_METHOD, &one, &result, nullptr, nullptr, Call()), DISP_E_PARAMNOTOPTIONAL);
    Variant three[3];
    DISPPARAMS many{three, nullptr, 3, 0};
    EXPECT_EQ(table.Invoke(6, DISPATCH_METHOD, &many, &result, nullptr, nullptr, Call()), DISP_E_BADPARAMCOUNT);
}

TEST_F(Fixture, OmittedOptionalArgumentsArriveAsParamNotFound)
{
    Variant result;
    ASSERT_EQ(table.Invoke(5, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr, Call()), DISP_E_EXCEPTION);
    ASSERT_EQ(seenTypes.size(), 2u);
    EXPECT_EQ(seenTypes[0], VT_ERROR);
    EXPECT_EQ(seenTypes[1], VT_ERROR);
}

TEST_F(Fixture, PropertyPutThenGet)
{
    Variant value = Variant::FromI4(123);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    ASSERT_EQ(table.Invoke(1, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr, Call()), S_OK);
    EXPECT_EQ(to, u"123") << "a put coerces its value to the property's type";
    Variant got;
    ASSERT_EQ(table.Invoke(1, DISPATCH_PROPERTYGET, nullptr, &got, nullptr, nullptr, Call()), S_OK);
    ASSERT_EQ(got.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(got.bstrVal), u"123");
    DISPPARAMS unnamed{&value, nullptr, 1, 0};
    EXPECT_EQ(table.Invoke(1, DISPATCH_PROPERTYPUT, &unnamed, nullptr, nullptr, nullptr, Call()), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(table.Invoke(42, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr, Call()), DISP_E_MEMBERNOTFOUND);
}

TEST_F(Fixture, ExceptionFillsExcepInfoAndKeepsErrorInfo)
{
    EXCEPINFO ei{};
    Variant result;
    ASSERT_EQ(table.Invoke(5, DISPATCH_METHOD, nullptr, &result, &ei, nullptr, Call()), DISP_E_EXCEPTION);
    ASSERT_NE(ei.bstrDescription, nullptr);
    EXPECT_EQ(std::u16string(ei.bstrDescription), u"Must specify To address");
    EXPECT_EQ(std::u16string(ei.bstrSource), u"Test.Source");
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrHelpFile);
    velmo::ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Receive()), S_OK);
    EXPECT_EQ(GetErrorInfo(0, info.Receive()), S_FALSE) << "GetErrorInfo takes the object off the thread";
}

}  // namespace
