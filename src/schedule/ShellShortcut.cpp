#include "ShellShortcut.h"

#ifdef _WIN32

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdexcept>

namespace {

std::string FolderPath(int folder) {
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folder, &list)) || list == nullptr) return {};
    char path[MAX_PATH] = {};
    const BOOL found = SHGetPathFromIDListA(list, path);
    CoTaskMemFree(list);
    return found ? std::string(path) : std::string();
}

// Everything up to and including the last separator, as the working directory is given.
std::string FolderOf(const std::string& path) {
    const auto at = path.find_last_of("\\/:");
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

// The shell shows and starts a link's paths as they are stored: Qt hands paths over with
// forward slashes, Windows writes them with backslashes.
std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return {};
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], size);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

// The system's own text for a failed COM call, as the error report shows it.
[[noreturn]] void Raise(HRESULT result) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(result), 0, text, sizeof text, nullptr);
    std::string message = length ? std::string(text, length) : std::string("OLE error");
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    throw std::runtime_error(message);
}

// COM for the length of one call; a thread the toolkit already initialised keeps its mode.
class TComScope {
public:
    TComScope() : result_(CoInitialize(nullptr)) {}
    ~TComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;

private:
    HRESULT result_;
};

template <typename T>
class TComRef {
public:
    TComRef() = default;
    ~TComRef() {
        if (p) p->Release();
    }
    TComRef(const TComRef&) = delete;
    TComRef& operator=(const TComRef&) = delete;
    T* p = nullptr;
};

}  // namespace

std::string ShellShortcutPath(int folder, const std::string& name) {
    const std::string dir = FolderPath(folder);
    return dir.empty() ? std::string() : dir + "\\" + name + ".lnk";
}

bool CreateShellShortcut(int folder, const std::string& name, const std::string& program) {
    const std::string target = NativePath(program);
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;

    TComScope com;
    TComRef<IShellLinkA> link;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                      IID_IShellLinkA, reinterpret_cast<void**>(&link.p));
    if (FAILED(result)) Raise(result);
    TComRef<IPersistFile> file;
    result = link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p));
    if (FAILED(result)) Raise(result);

    link.p->SetPath(target.c_str());
    link.p->SetWorkingDirectory(FolderOf(target).c_str());

    const std::string dir = FolderPath(folder);
    if (dir.empty()) return false;
    CreateDirectoryA(dir.c_str(), nullptr);
    // Not remembered as the object's file: the object is dropped right after.
    return SUCCEEDED(file.p->Save(Wide(dir + "\\" + name + ".lnk").c_str(), FALSE));
}

void DeleteShellShortcut(int folder, const std::string& name) {
    const std::string path = ShellShortcutPath(folder, name);
    if (!path.empty()) DeleteFileA(path.c_str());
}

#else  // freedesktop autostart

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The user's autostart folder: entries there are started when the user logs on.
std::string StartupFolder() {
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        base = config;  // a relative value is to be ignored
    } else {
        const char* home = std::getenv("HOME");
        if (home != nullptr && home[0] != '\0') {
            base = home;
        } else if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr) {
            base = user->pw_dir;
        }
        if (base.empty()) return {};
        base += "/.config";
    }
    return base + "/autostart";
}

std::string FolderPath(int folder) {
    return folder == kStartupFolder ? StartupFolder() : std::string();
}

std::string FolderOf(const std::string& path) {
    const auto at = path.rfind('/');
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

// A value of type string: backslash and control characters escaped.
std::string EscapeValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

// The program as the one argument of Exec: always quoted (folders often hold blanks), with
// the four characters that stay special inside quotes escaped; then the value escaping,
// which doubles those backslashes again, and "%%" for a literal percent sign, which would
// otherwise start a field code.
std::string ExecValue(const std::string& program) {
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (char c : EscapeValue(quoted)) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string ShellShortcutPath(int folder, const std::string& name) {
    const std::string dir = FolderPath(folder);
    return dir.empty() ? std::string() : dir + "/" + name + ".desktop";
}

bool CreateShellShortcut(int folder, const std::string& name, const std::string& target) {
    struct stat info {};
    if (stat(target.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    const std::string dir = FolderPath(folder);
    if (dir.empty()) return false;
    // A fresh account may have no ~/.config yet, and XDG_CONFIG_HOME may name a folder not
    // made: every missing level is made. A failure shows when the entry is written.
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0700);
    mkdir(dir.c_str(), 0755);

    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=" + EscapeValue(name) + "\n"
                              "Exec=" + ExecValue(target) + "\n"
                              "Path=" + EscapeValue(FolderOf(target)) + "\n";

    // Written beside and renamed over the old entry, so the folder never holds a half entry
    // (which the session would skip) nor two of them.
    std::string temporary = dir + "/." + name + ".desktop.XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, entry) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), (dir + "/" + name + ".desktop").c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

void DeleteShellShortcut(int folder, const std::string& name) {
    const std::string path = ShellShortcutPath(folder, name);
    if (!path.empty()) unlink(path.c_str());
}

#endif
