#include "platform/Registry.h"

#include "platform/File.h"

#include "platform/SysRoot.h"
#include "platform/Text.h"
#include "platform/WriteAll.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct HKEY__ {
    velmo::Hive hive;
    std::u16string path;
};

namespace velmo {
namespace {

// Closes a descriptor when it leaves scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    bool operator==(const FileStamp& o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

std::optional<FileStamp> StampOf(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

// The one registry cache of the process.
struct Store {
    std::mutex mu;
    std::string path;  // file the cache belongs to
    std::optional<FileStamp> stamp;
    bool valid = false;    // the cache matches the file
    bool damaged = false;  // the file did not parse
    RegistryTree tree;
};

Store& TheStore()
{
    static Store* s = new Store();  // never destroyed: used by late-ending threads
    return *s;
}

std::string LockPath(const std::string& file) { return file + ".lock"; }

std::string FolderOf(const std::string& file) { return file.substr(0, file.rfind('/')); }

// Reads and parses the file; a missing file is an empty registry.
LONG LoadFile(const std::string& path, RegistryTree& tree, std::optional<FileStamp>& stamp)
{
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            tree = RegistryTree();
            stamp.reset();
            return ERROR_SUCCESS;
        }
        return ERROR_CANTREAD;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0)
        return ERROR_CANTREAD;
    std::string text;
    char buf[65536];
    while (true) {
        ssize_t n = read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ERROR_CANTREAD;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    auto parsed = RegistryTree::Parse(text, nullptr);
    if (!parsed)
        return ERROR_BADDB;
    tree = std::move(*parsed);
    stamp = FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    return ERROR_SUCCESS;
}

LONG SaveFile(const std::string& path, const RegistryTree& tree)
{
    std::string text = tree.Serialize();
    return WriteFileDurably(path, text.data(), text.size()) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

// Opens the lock file; creates the folder when asked to (writes only).
int OpenLock(const std::string& path, bool create)
{
    std::string lock = LockPath(path);
    if (create) {
        MakeDirectories(FolderOf(path));
        return open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }
    int fd = open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && access(FolderOf(path).c_str(), W_OK) == 0)
        fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    return fd;
}

bool Flock(int fd, int op)
{
    while (flock(fd, op) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

// Brings the cache up to date; the store's mutex is held.
LONG Refresh(Store& s)
{
    std::string path = RegistryFilePath();
    if (s.valid && s.path == path && StampOf(path) == s.stamp)
        return s.damaged ? ERROR_BADDB : ERROR_SUCCESS;
    Fd lock(OpenLock(path, false));
    if (lock.get() >= 0 && !Flock(lock.get(), LOCK_SH))
        return ERROR_CANTREAD;
    RegistryTree tree;
    std::optional<FileStamp> stamp;
    LONG rc = LoadFile(path, tree, stamp);
    s.path = path;
    if (rc == ERROR_BADDB) {
        s.valid = true;
        s.damaged = true;
        s.stamp = StampOf(path);
        return rc;
    }
    if (rc != ERROR_SUCCESS) {
        s.valid = false;
        return rc;
    }
    s.tree = std::move(tree);
    s.stamp = stamp;
    s.valid = true;
    s.damaged = false;
    return ERROR_SUCCESS;
}

HKEY NewHandle(Hive h, std::u16string path) { return new HKEY__{h, std::move(path)}; }

bool Resolve(HKEY key, Hive& hive, std::u16string& path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        hive = Hive::LocalMachine;
        path.clear();
        return true;
    }
    if (key == HKEY_CLASSES_ROOT) {
        hive = Hive::ClassesRoot;
        path.clear();
        return true;
    }
    if (!key)
        return false;
    hive = key->hive;
    path = key->path;
    return true;
}

std::u16string Widen(LPCSTR s) { return s ? Utf8ToUtf16(s) : std::u16string(); }

LONG QueryInto(const RegValue& v, DWORD* type, BYTE* data, DWORD* cbData, const std::vector<BYTE>& bytes)
{
    if (type)
        *type = v.type;
    if (!cbData)
        return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    auto need = static_cast<DWORD>(bytes.size());
    if (!data) {
        *cbData = need;
        return ERROR_SUCCESS;
    }
    if (*cbData < need) {
        *cbData = need;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    *cbData = need;
    return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, const std::u16string& name, bool ansi, DWORD* type, BYTE* data, DWORD* cbData)
{
    Hive hive;
    std::u16string path;
    if (!Resolve(key, hive, path))
        return ERROR_INVALID_HANDLE;
    LONG rc = ERROR_FILE_NOT_FOUND;
    LONG read = ReadRegistry([&](const RegistryTree& tree) {
        const RegKey* k = tree.Find(hive, path);
        if (!k) {
            rc = ERROR_KEY_DELETED;
            return;
        }
        const RegValue* v = k->Value(name);
        if (!v)
            return;
        if (ansi && (v->type == REG_SZ || v->type == REG_EXPAND_SZ)) {
            std::string text = Utf16ToUtf8(*k->String(name));
            std::vector<BYTE> bytes(text.begin(), text.end());
            bytes.push_back(0);
            rc = QueryInto(*v, type, data, cbData, bytes);
        } else {
            rc = QueryInto(*v, type, data, cbData, v->data);
        }
    });
    return read != ERROR_SUCCESS ? read : rc;
}

LONG OpenKey(HKEY key, const std::u16string& sub, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Hive hive;
    std::u16string path;
    if (!Resolve(key, hive, path))
        return ERROR_INVALID_HANDLE;
    std::u16string full = sub.empty() ? path : (path.empty() ? sub : path + u"\\" + sub);
    bool exists = false;
    LONG read = ReadRegistry([&](const RegistryTree& tree) { exists = tree.Find(hive, full) != nullptr; });
    if (read != ERROR_SUCCESS)
        return read;
    if (!exists)
        return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(hive, full);
    return ERROR_SUCCESS;
}

}  // namespace

std::string RegistryFilePath() { return SysRootPath("etc/velmo/system.reg"); }

LONG ReadRegistry(const std::function<void(const RegistryTree&)>& reader)
{
    Store& s = TheStore();
    std::lock_guard lock(s.mu);
    LONG rc = Refresh(s);
    if (rc != ERROR_SUCCESS)
        return rc;
    reader(s.tree);
    return ERROR_SUCCESS;
}

LONG ModifyRegistry(const std::function<LONG(RegistryTree&)>& change)
{
    Store& s = TheStore();
    std::lock_guard guard(s.mu);
    std::string path = RegistryFilePath();
    Fd lock(OpenLock(path, true));
    if (lock.get() < 0)
        return ERROR_CANTWRITE;
    if (!Flock(lock.get(), LOCK_EX))
        return ERROR_CANTWRITE;
    RegistryTree tree;
    std::optional<FileStamp> stamp;
    LONG rc = LoadFile(path, tree, stamp);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = change(tree);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = SaveFile(path, tree);
    if (rc != ERROR_SUCCESS) {
        s.valid = false;
        return rc;
    }
    s.path = path;
    s.tree = std::move(tree);
    s.stamp = StampOf(path);
    s.valid = true;
    s.damaged = false;
    return ERROR_SUCCESS;
}

std::optional<std::u16string> ReadRegistryString(Hive hive, std::u16string_view path, std::u16string_view name)
{
    std::optional<std::u16string> out;
    ReadRegistry([&](const RegistryTree& tree) {
        if (const RegKey* k = tree.Find(hive, path))
            out = k->String(name);
    });
    return out;
}

}  // namespace velmo

using velmo::Hive;

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) { return velmo::OpenKey(key, velmo::Widen(subKey), result); }

LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* cbData)
{
    return velmo::QueryValue(key, velmo::Widen(name), true, type, data, cbData);
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT)
        return ERROR_SUCCESS;
    if (!key)
        return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}
