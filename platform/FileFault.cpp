#include "platform/FileFault.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>

namespace velmo {

namespace {
std::atomic<bool> g_set{false};
std::mutex g_lock;
std::shared_ptr<FileFaultHook> g_hook;
}  // namespace

void SetFileFaultHook(FileFaultHook hook)
{
    std::lock_guard lock(g_lock);
    g_hook = hook ? std::make_shared<FileFaultHook>(std::move(hook)) : nullptr;
    g_set = static_cast<bool>(g_hook);
}

namespace detail {

int FileFault(FileOp op, const std::string& path, const std::string& target)
{
    if (!g_set)
        return 0;
    std::shared_ptr<FileFaultHook> hook;
    {
        std::lock_guard lock(g_lock);
        hook = g_hook;
    }
    int e = hook ? (*hook)(op, path, target) : 0;
    if (e)
        errno = e;
    return e;
}

}  // namespace detail

}  // namespace velmo
