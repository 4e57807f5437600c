#include "platform/TypeLib.h"

#include "platform/Registry.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"
#include "platform/WriteAll.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace velmo {

namespace {

std::u16string VersionText(WORD major, WORD minor)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x.%x", major, minor);
    return Utf8ToUtf16(buf);
}

std::string Escape(std::u16string_view s)
{
    std::string out;
    for (char c : Utf16ToUtf8(s)) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

bool WriteFileAtomically(const std::string& path, const std::string& text)
{
    std::string folder = path.substr(0, path.rfind('/'));
    if (!MakeDirectories(folder))
        return false;
    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = detail::WriteAll(fd, text) && fsync(fd) == 0;
    close(fd);
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

const char* BusType(VARTYPE vt)
{
    switch (vt) {
    case VT_BSTR: return "s";
    case VT_I4:
    case VT_INT:
    case VT_USERDEFINED: return "i";
    case VT_BOOL: return "b";
    case VT_DATE:
    case VT_R8: return "d";
    case VT_DISPATCH:
    case VT_UNKNOWN: return "o";
    default: return "v";
    }
}

std::string IntrospectionPath(const TypeLibDescription& lib)
{
    return SysRootPath(std::string("usr/share/dbus-1/interfaces/") + lib.introspectionFile);
}

std::string IntrospectionXml(const TypeLibDescription& lib)
{
    std::string x = "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
                    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n";
    x += "<!-- " + Escape(lib.helpString) + " (" + GuidToUtf8(lib.libid) + ") -->\n<node>\n";
    for (const DispInterface* iface : lib.interfaces) {
        x += "  <interface name=\"" + Escape(iface->busName) + "\">\n";
        x += "    <annotation name=\"org.norvane.Velmo.IID\" value=\"" + GuidToUtf8(iface->iid) + "\"/>\n";
        // Properties: a get, and a put if the table has one.
        for (const auto& m : iface->members) {
            if (m.kind != DISPATCH_PROPERTYGET)
                continue;
            bool writable = false;
            for (const auto& p : iface->members)
                if (p.dispid == m.dispid && p.kind == DISPATCH_PROPERTYPUT)
                    writable = true;
            x += "    <property name=\"" + Escape(m.name) + "\" type=\"" + BusType(m.result) + "\" access=\"" +
                 (writable ? "readwrite" : "read") + "\">\n";
            x += "      <annotation name=\"org.norvane.Velmo.DispId\" value=\"" + std::to_string(m.dispid) +
                 "\"/>\n    </property>\n";
        }
        for (const auto& m : iface->members) {
            if (m.kind != DISPATCH_METHOD)
                continue;
            x += "    <method name=\"" + Escape(m.name) + "\">\n";
            x += "      <annotation name=\"org.norvane.Velmo.DispId\" value=\"" + std::to_string(m.dispid) + "\"/>\n";
            for (const auto& a : m.args)
                if (a.dir == ArgDir::In)
                    x += "      <arg name=\"" + Escape(a.name) + "\" type=\"" + BusType(a.type) +
                         "\" direction=\"in\"/>\n";
            // Outputs: the retval first, then the out-arguments in order.
            for (const auto& a : m.args)
                if (a.dir == ArgDir::Retval)
                    x += "      <arg name=\"" + Escape(a.name) + "\" type=\"" + BusType(a.type) +
                         "\" direction=\"out\"/>\n";
            for (const auto& a : m.args)
                if (a.dir == ArgDir::Out)
                    x += "      <arg name=\"" + Escape(a.name) + "\" type=\"" + BusType(a.type) +
                         "\" direction=\"out\"/>\n";
            x += "    </method>\n";
        }
        x += "  </interface>\n";
    }
    x += "</node>\n";
    return x;
}

}  // namespace velmo

HRESULT RegisterTypeLib(const velmo::TypeLibDescription* lib, LPCOLESTR fullPath, LPCOLESTR helpDir)
{
    using namespace velmo;
    if (!lib || !fullPath)
        return E_INVALIDARG;
    std::u16string libText = GuidToString(lib->libid);
    std::u16string version = VersionText(lib->major, lib->minor);
    std::string xmlPath;
    if (lib->introspectionFile) {
        xmlPath = IntrospectionPath(*lib);
        if (!WriteFileAtomically(xmlPath, IntrospectionXml(*lib)))
            return TYPE_E_REGISTRYACCESS;
    }
    LONG rc = ModifyRegistry([&](RegistryTree& tree) {
        RegKey& v = tree.Create(Hive::ClassesRoot, u"TypeLib\\" + libText + u"\\" + version);
        v.SetString(u"", lib->helpString ? lib->helpString : u"");
        v.CreateChild(u"0").CreateChild(u"linux64").SetString(u"", fullPath);
        v.CreateChild(u"FLAGS").SetString(u"", u"0");
        v.CreateChild(u"HELPDIR").SetString(u"", helpDir ? helpDir : u"");
        if (!xmlPath.empty())
            v.SetString(u"Introspection", Utf8ToUtf16(xmlPath));
        for (const DispInterface* iface : lib->interfaces) {
            RegKey& k = tree.Create(Hive::ClassesRoot, u"Interface\\" + GuidToString(iface->iid));
            k.SetString(u"", iface->name);
            RegKey& t = k.CreateChild(u"TypeLib");
            t.SetString(u"", libText);
            t.SetString(u"Version", version);
        }
        return ERROR_SUCCESS;
    });
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID, SYSKIND)
{
    using namespace velmo;
    std::u16string libText = GuidToString(libid);
    std::u16string version = VersionText(major, minor);
    std::u16string xmlPath;
    LONG rc = ModifyRegistry([&](RegistryTree& tree) {
        RegKey* lib = tree.Find(Hive::ClassesRoot, u"TypeLib\\" + libText);
        RegKey* v = lib ? lib->Child(version) : nullptr;
        if (!v)
            return ERROR_FILE_NOT_FOUND;
        if (auto x = v->String(u"Introspection"))
            xmlPath = *x;
        lib->RemoveChild(version);
        if (!lib->HasChildren())
            tree.RemoveTree(Hive::ClassesRoot, u"TypeLib\\" + libText);
        if (RegKey* ifaces = tree.Find(Hive::ClassesRoot, u"Interface")) {
            std::vector<std::u16string> gone;
            for (const RegKey* k : ifaces->Children()) {
                const RegKey* t = k->Child(u"TypeLib");
                auto owner = t ? t->String(u"") : std::nullopt;
                auto ver = t ? t->String(u"Version") : std::nullopt;
                if (owner && EqualsNoCase(*owner, libText) && (!ver || EqualsNoCase(*ver, version)))
                    gone.push_back(k->Name());
            }
            for (const auto& name : gone)
                ifaces->RemoveChild(name);
        }
        return ERROR_SUCCESS;
    });
    if (rc == ERROR_FILE_NOT_FOUND)
        return TYPE_E_LIBNOTREGISTERED;
    if (rc != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    if (!xmlPath.empty())
        unlink(Utf16ToUtf8(xmlPath).c_str());
    return S_OK;
}
