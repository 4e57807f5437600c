#include "interfaces/VelmoDevice.h"
#include "interfaces/VelmoLib.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "TempRoot.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <pugixml.hpp>

namespace {

using velmo::Hive;
using velmo::velmolib::kVelmoLib;

// method name -> "in-signature -> out-signature", read from the XML.
std::map<std::string, std::string> Methods(const pugi::xml_node& iface)
{
    std::map<std::string, std::string> out;
    for (auto m : iface.children("method")) {
        std::string in, res;
        for (auto a : m.children("arg"))
            (std::string(a.attribute("direction").value()) == "in" ? in : res) += a.attribute("type").value();
        out[m.attribute("name").value()] = in + "->" + res;
    }
    return out;
}

std::map<std::string, std::string> Properties(const pugi::xml_node& iface)
{
    std::map<std::string, std::string> out;
    for (auto p : iface.children("property"))
        out[p.attribute("name").value()] =
            std::string(p.attribute("type").value()) + " " + p.attribute("access").value();
    return out;
}

TEST(VelmoLib, IntrospectionMatchesTheBusSurface)
{
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(velmo::IntrospectionXml(kVelmoLib).c_str()));
    auto velmo = doc.select_node("/node/interface[@name='org.norvane.Velmo.IVelmo']").node();
    ASSERT_TRUE(velmo);
    EXPECT_EQ(Properties(velmo),
              (std::map<std::string, std::string>{
                  {"To", "s readwrite"}, {"From", "s read"}, {"Body", "s readwrite"}, {"Date", "v read"}}));
    EXPECT_EQ(Methods(velmo),
              (std::map<std::string, std::string>{{"Send", "vv->v"}, {"Forward", "->o"}, {"Reply", "->o"}}));
    auto center = doc.select_node("/node/interface[@name='org.norvane.Velmo.IMessageCenter']").node();
    ASSERT_TRUE(center);
    EXPECT_EQ(Methods(center), (std::map<std::string, std::string>{{"AddMessageMonitor", "s->"},
                                                                   {"QueryMessageStatus", "s->ivv"},
                                                                   {"NewMessage", "->o"},
                                                                   {"GetMessage", "s->o"}}));
    EXPECT_STREQ(center.select_node("annotation[@name='org.norvane.Velmo.IID']").node().attribute("value").value(),
                 "{14D1BEC2-612A-41EC-AA1A-FB6FAA78274B}");
}

TEST(VelmoLib, DispIdsAreUniquePerKind)
{
    for (const auto* iface : kVelmoLib.interfaces) {
        std::map<std::pair<DISPID, WORD>, int> seen;
        for (const auto& m : iface->members) {
            int before = seen[std::make_pair(m.dispid, m.kind)]++;
            EXPECT_EQ(before, 0) << velmo::Utf16ToUtf8(m.name);
        }
    }
    velmo::DispatchTable t(velmo::velmolib::kIVelmo);
    const char16_t* names[] = {u"send"};
    DISPID id = 0;
    ASSERT_EQ(t.GetIDsOfNames(const_cast<LPOLESTR*>(names), 1, &id), S_OK);
    EXPECT_EQ(id, 5);
}

TEST(VelmoLib, RegisterAndUnregisterTypeLibrary)
{
    TempRoot root;
    ASSERT_EQ(RegisterTypeLib(&kVelmoLib, u"/usr/sbin/velmosvc", u"/usr/sbin"), S_OK);
    const std::u16string key = u"TypeLib\\{3589c97e-0d5e-4b9a-b1c4-fcb5e239a144}\\1.0";
    EXPECT_EQ(velmo::ReadRegistryString(Hive::ClassesRoot, key, u""), u"Velmo 1.0 Type Library");
    EXPECT_EQ(velmo::ReadRegistryString(Hive::ClassesRoot, key + u"\\0\\linux64", u""), u"/usr/sbin/velmosvc");
    EXPECT_EQ(velmo::ReadRegistryString(Hive::ClassesRoot, key + u"\\FLAGS", u""), u"0");
    EXPECT_EQ(velmo::ReadRegistryString(Hive::ClassesRoot, u"Interface\\{0FB302C0-8866-4693-B0D5-F668AE9F90A9}", u""),
              u"IVelmo");
    const std::string xml = root.path() + "/usr/share/dbus-1/interfaces/org.norvane.Velmo.xml";
    EXPECT_TRUE(std::filesystem::exists(xml));

    ASSERT_EQ(UnRegisterTypeLib(LIBID_VelmoLib, 1, 0, 0, SYS_WIN64), S_OK);
    EXPECT_FALSE(velmo::ReadRegistryString(Hive::ClassesRoot, key, u""));
    EXPECT_FALSE(
        velmo::ReadRegistryString(Hive::ClassesRoot, u"Interface\\{0FB302C0-8866-4693-B0D5-F668AE9F90A9}", u""));
    EXPECT_FALSE(std::filesystem::exists(xml));
    EXPECT_EQ(UnRegisterTypeLib(LIBID_VelmoLib, 1, 0, 0, SYS_WIN64), TYPE_E_LIBNOTREGISTERED);
}

TEST(DeviceContract, IdentifiersAndConstants)
{
    EXPECT_EQ(velmo::GuidToUtf8(IID_IVelmoDevice), "{D3450BA1-365F-4688-8ECE-64BF188CA36C}");
    EXPECT_EQ(velmo::GuidToUtf8(IID_IPersistXMLParam), "{1A3660EB-8835-4A86-BDF8-039272CCC1DD}");
    EXPECT_EQ(velmo::GuidToUtf8(IID_IVelmo_Q), "{985D14E8-E15F-43BE-BB98-121C8542AAFB}");
    EXPECT_EQ(WAKE_EVENT, 2);
    EXPECT_EQ(SEND_OK, 2);
    EXPECT_EQ(velmoBreak, 0);
    EXPECT_EQ(RECEIVED, 4);
}

}  // namespace
