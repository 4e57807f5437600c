// A temporary installation for service tests: a system root with the queue
// folders, the loopback device registered, and helpers to write config.xml
// and to read the queue folders.
#pragma once

#include "platform/Activation.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

inline constexpr CLSID kLoopback = velmo::MakeGuid("{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}");

class ServiceRoot : public TempRoot {
public:
    ServiceRoot()
    {
        for (const char* folder : {"out/sent", "out/failed", "in", "bad", "pickup"})
            std::filesystem::create_directories(folderPath(folder));
        std::string error;
        HMODULE module = velmo::LoadModule(VELMO_LOOPBACK, &error);
        EXPECT_NE(module, nullptr) << error;
        auto reg = reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(module, "DllRegisterServer"));
        EXPECT_EQ(reg ? reg() : E_FAIL, S_OK);
    }
    // root/var/lib/velmo/<relative>/
    std::string folderPath(const std::string& relative) const
    {
        return path() + "/var/lib/velmo/" + relative + (relative.empty() ? "" : "/");
    }
    std::u16string root() const { return velmo::Utf8ToUtf16(folderPath("")); }
    void WriteConfig(const std::string& devices, const std::string& rules = "<rules/>", int queueMax = 0,
                     int retryMax = 0) const
    {
        std::ofstream(folderPath("") + "config.xml")
            << "<velmo><configuration><queue max='" << queueMax << "'/><retries max='" << retryMax
            << "'/></configuration><devices>" << devices << "</devices>" << rules << "<eventhandlers/></velmo>";
    }
    // The .velmo files of a folder.
    std::vector<std::string> Files(const std::string& relative) const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folderPath(relative)))
            if (e.is_regular_file() && e.path().extension() == ".velmo")
                names.push_back(e.path().filename().string());
        return names;
    }
};

// A loopback device entry of config.xml with the given param elements.
inline std::string Loopback(int id, const std::string& params = "", const std::string& name = "")
{
    return "<device status='1' id='" + std::to_string(id) + "' name='" +
           (name.empty() ? "Loop" + std::to_string(id) : name) + "' clsid='{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}'>" +
           params + "</device>";
}

inline std::string Param(const std::string& name, const std::string& value)
{
    return "<param name='" + name + "' value='" + value + "'/>";
}
