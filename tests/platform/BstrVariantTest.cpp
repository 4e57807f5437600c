#include "platform/Bstr.h"
#include "platform/Variant.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using velmo::Bstr;
using velmo::Variant;

TEST(Bstr, NullAndEmptyDiffer)
{
    Bstr null;
    Bstr empty(std::u16string_view(u""));
    EXPECT_TRUE(null.IsNull());
    EXPECT_FALSE(empty.IsNull());
    EXPECT_EQ(SysStringLen(null.get()), 0u);
    EXPECT_EQ(SysStringLen(empty.get()), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    Bstr copy(empty);
    EXPECT_FALSE(copy.IsNull()) << "copying an empty string must not make it null";
}

TEST(Bstr, KeepsEmbeddedZerosAndTerminates)
{
    const char16_t text[] = {u'a', 0, u'b'};
    BSTR s = SysAllocStringLen(text, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(s[2], u'b');
    SysFreeString(s);
}

struct ChangeCase {
    const char16_t* text;
    VARTYPE to;
    HRESULT hr;
    long long value;  // expected integer / boolean (-1 true, 0 false)
};

class ChangeTypeFromText : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangeTypeFromText, FollowsAutomationRules)
{
    const auto& c = GetParam();
    Variant src = Variant::FromBstr(c.text);
    Variant dst = Variant::FromI4(12345);
    HRESULT hr = VariantChangeType(&dst, &src, 0, c.to);
    EXPECT_EQ(hr, c.hr);
    if (FAILED(c.hr)) {
        EXPECT_EQ(dst.vt, VT_I4) << "a failed conversion must leave the destination alone";
        EXPECT_EQ(dst.lVal, 12345);
        return;
    }
    ASSERT_EQ(dst.vt, c.to);
    switch (c.to) {
    case VT_I4: EXPECT_EQ(dst.lVal, c.value); break;
    case VT_I2: EXPECT_EQ(dst.iVal, c.value); break;
    case VT_UI2: EXPECT_EQ(dst.uiVal, c.value); break;
    case VT_BOOL: EXPECT_EQ(dst.boolVal, c.value); break;
    default: FAIL();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChangeTypeFromText,
    ::testing::Values(ChangeCase{u"  12", VT_I4, S_OK, 12}, ChangeCase{u"12  ", VT_UI2, S_OK, 12},
                      ChangeCase{u"-7", VT_I2, S_OK, -7}, ChangeCase{u"x", VT_I4, DISP_E_TYPEMISMATCH, 0},
                      ChangeCase{u"", VT_I4, DISP_E_TYPEMISMATCH, 0}, ChangeCase{u"1 2", VT_I4, DISP_E_TYPEMISMATCH, 0},
                      ChangeCase{u"true", VT_BOOL, S_OK, -1}, ChangeCase{u"FALSE", VT_BOOL, S_OK, 0},
                      ChangeCase{u"0", VT_BOOL, S_OK, 0}, ChangeCase{u"5", VT_BOOL, S_OK, -1},
                      ChangeCase{u"x", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
                      ChangeCase{u"true", VT_I4, DISP_E_TYPEMISMATCH, 0}, ChangeCase{u"70000", VT_I4, S_OK, 70000},
                      ChangeCase{u"70000", VT_UI2, DISP_E_OVERFLOW, 0}, ChangeCase{u"70000", VT_I2, DISP_E_OVERFLOW, 0},
                      ChangeCase{u"65535", VT_UI2, S_OK, 65535}, ChangeCase{u"-1", VT_UI2, DISP_E_OVERFLOW, 0},
                      ChangeCase{u"2.5", VT_I4, S_OK, 2}, ChangeCase{u"3.5", VT_I4, S_OK, 4}));

TEST(Variant, ChangeTypeInPlaceFreesTheOldString)
{
    Variant v = Variant::FromBstr(u"42");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);
}

TEST(Variant, ToTextAndByReference)
{
    Variant b = Variant::FromBool(true);
    Variant t;
    ASSERT_EQ(VariantChangeType(&t, &b, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(t.bstrVal), u"True");
    ASSERT_EQ(VariantChangeType(&t, &b, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(t.bstrVal), u"-1");

    LONG n = 17;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &n;
    Variant s;
    ASSERT_EQ(VariantChangeType(&s, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(s.bstrVal), u"17");
    Variant null;
    null.vt = VT_NULL;
    EXPECT_EQ(VariantChangeType(&s, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(Variant, CopyDuplicatesStrings)
{
    Variant a = Variant::FromBstr(u"text");
    Variant b(a);
    ASSERT_EQ(b.vt, VT_BSTR);
    EXPECT_NE(a.bstrVal, b.bstrVal);
    EXPECT_EQ(std::u16string(b.bstrVal), u"text");
    VariantClear(&a);
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_EQ(std::u16string(b.bstrVal), u"text");
}

}  // namespace
