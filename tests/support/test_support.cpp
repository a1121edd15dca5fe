#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <direct.h>
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace testing_support {

std::string Env(const char* name) {
#if defined(_WIN32)
    char buffer[32768];
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
#else
    const char* v = std::getenv(name);
    return v ? v : "";
#endif
}

std::string HostPath(const std::string& unixPath) {
#if defined(_WIN32)
    if (unixPath.empty() || unixPath[0] != '/') return unixPath;
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
#else
    return unixPath;
#endif
}

std::string EnvPath(const char* name) { return HostPath(Env(name)); }

void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name, value.c_str());
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char* name) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name, nullptr);
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

std::string JoinPath(const std::string& dir, const std::string& name) {
#if defined(_WIN32)
    const char sep = '\\';
#else
    const char sep = '/';
#endif
    if (dir.empty()) return name;
    if (dir.back() == '/' || dir.back() == '\\') return dir + name;
    return dir + sep + name;
}

std::string FreshDir(const std::string& name) {
    std::string path = name;
#if defined(_WIN32)
    std::string cmd = "rmdir /s /q \"" + path + "\" >nul 2>nul";
    std::system(cmd.c_str());
    _mkdir(path.c_str());
#else
    std::string cmd = "rm -rf '" + path + "'";
    if (std::system(cmd.c_str()) != 0) return path;
    mkdir(path.c_str(), 0755);
#endif
    return path;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
#if defined(_WIN32)
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(JoinPath(dir, "*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::string n = found.cFileName;
        if (n != "." && n != "..") names.push_back(n);
    } while (FindNextFileA(h, &found));
    FindClose(h);
#else
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
#endif
    return names;
}

std::string CurrentDir() {
    char buffer[4096];
#if defined(_WIN32)
    DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
#else
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
#endif
}

bool ChangeDir(const std::string& dir) {
#if defined(_WIN32)
    return SetCurrentDirectoryA(dir.c_str()) != FALSE;
#else
    return chdir(dir.c_str()) == 0;
#endif
}

int RunCommand(const std::string& commandLine, std::string& output) {
    output.clear();
#if defined(_WIN32)
    // cmd.exe strips one pair of outer quotes.
    std::string line = "\"" + commandLine + "\"";
    std::FILE* p = _popen(line.c_str(), "rb");
#else
    std::FILE* p = popen(commandLine.c_str(), "r");
#endif
    if (p == nullptr) return -1;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
#if defined(_WIN32)
    return _pclose(p);
#else
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string HostCommand() { return "\"" + EnvPath("PLIVORS_TEST_HOST") + "\""; }

std::string RunHostCheck() {
    std::string out;
    int rc = RunCommand(HostCommand() + " --plugin \"" + EnvPath("PLIVORS_TEST_PLUGIN") + "\" check 2>&1", out);
    return std::to_string(rc) + "\n" + out;
}

namespace {
std::string Squeezed(const std::string& s) {
    std::string out;
    for (char c : s) {
        bool blank = c == ' ' || c == '\n' || c == '\r';
        if (!blank) out += c;
        else if (out.empty() || out.back() != ' ') out += ' ';
    }
    return out;
}
}  // namespace

bool HasWords(const std::string& out, const std::string& text) {
    return Squeezed(out).find(Squeezed(text)) != std::string::npos;
}

std::string Server() { return Env("PLIVORS_TEST_SERVER"); }

std::vector<std::string> ServerLog() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(EnvPath("PLIVORS_TEST_SERVER_LOG")));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

namespace {
int PLIVORS_CDECL Record(TCallbackTexto* record, const char* text) {
    reinterpret_cast<RecordingCallback*>(record)->texts.push_back(text ? text : "");
    return 0;
}
}  // namespace

RecordingCallback::RecordingCallback() { record.funcion = &Record; }

}  // namespace testing_support
