// regsvr: registers or unregisters a component module, as administrators do
// with regsvr32 on Windows.
//
//   regsvr MODULE        calls the module's DllRegisterServer
//   regsvr /u MODULE     calls its DllUnregisterServer
//
// Prints what happened; exits 0 on success, 1 when the call failed or the
// module could not be loaded, 2 for a usage error (with the usage).
#include "interfaces/StandardOptions.h"
#include "platform/Activation.h"
#include "platform/ErrorInfo.h"
#include "platform/Text.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "usage: regsvr [/u] MODULE\n"
                      "       regsvr --help | --version\n"
                      "\n"
                      "Calls DllRegisterServer of the component module MODULE (a .so file), or\n"
                      "DllUnregisterServer with /u (or -u). See regsvr(8).\n";

}  // namespace

int main(int argc, char** argv)
{
    if (auto answered = velmo::AnswerStandardOptions(argc, argv, "regsvr", kUsage))
        return *answered;
    bool unregister = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/u") == 0 || std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/U") == 0)
            unregister = true;
        else if (argv[i][0] == '-')
            return velmo::UsageError("regsvr", std::string("unknown option ") + argv[i], kUsage);
        else if (path)
            return velmo::UsageError("regsvr", "one MODULE at a time", kUsage);
        else
            path = argv[i];
    }
    if (!path)
        return velmo::UsageError("regsvr", "MODULE is missing", kUsage);
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    std::string error;
    HMODULE module = velmo::LoadModule(path, &error);
    if (!module) {
        std::fprintf(stderr, "regsvr: cannot load %s: %s\n", path, error.c_str());
        return 1;
    }
    auto fn = reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(module, entry));
    if (!fn) {
        std::fprintf(stderr, "regsvr: %s has no entry point %s\n", path, entry);
        return 1;
    }
    CoInitialize(nullptr);
    HRESULT hr = fn();
    std::string why;
    if (FAILED(hr))
        if (auto description = velmo::TakeErrorDescription())
            why = description->Utf8();
    CoUninitialize();
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s in %s failed with code 0x%08X%s%s\n", entry, path, static_cast<unsigned>(hr),
                     why.empty() ? "" : ": ", why.c_str());
        return 1;
    }
    std::printf("%s in %s succeeded.\n", entry, path);
    return 0;
}
