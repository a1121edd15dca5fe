// What the map server's tests share: plain requests with their header
// fields, and servers of their own.
#pragma once

#include <curl/curl.h>
#include <gif_lib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/map_geometry.h"
#include "support/test_support.h"

namespace server_testing {

using testing_support::Env;
using testing_support::JoinPath;
using testing_support::ReadFile;
using testing_support::Rgb;

struct Answer {
    long status = 0;
    std::string body;
    std::string head;  // the header fields as received

    // A field's value ("" when absent); name in any case.
    std::string Field(const std::string& name) const {
        std::string lower;
        for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string wanted = "\r\n";
        for (char c : name) wanted += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        wanted += ":";
        size_t at = lower.find(wanted);
        if (at == std::string::npos) return "";
        at += wanted.size();
        while (at < head.size() && head[at] == ' ') ++at;
        return head.substr(at, head.find("\r\n", at) - at);
    }
};

inline size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

// A GET (or HEAD) with extra header lines ("Name: value").
inline Answer Get(const std::string& url, const std::vector<std::string>& fields = {}, bool head = false) {
    Answer a;
    CURL* curl = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& f : fields) list = curl_slist_append(list, f.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &a.head);
    curl_easy_setopt(curl, CURLOPT_NOBODY, head ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &a.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return a;
}

struct Picture {
    int width = 0, height = 0, colors = 0;
    std::vector<Rgb> pixels;
    Rgb At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

inline int ReadMemory(GifFileType* gif, GifByteType* out, int n) {
    auto* source = static_cast<std::pair<const std::string*, size_t>*>(gif->UserData);
    int k = static_cast<int>(std::min<size_t>(n, source->first->size() - source->second));
    std::memcpy(out, source->first->data() + source->second, k);
    source->second += k;
    return k;
}

inline Picture Decode(const std::string& gifBytes) {
    Picture p;
    std::pair<const std::string*, size_t> source(&gifBytes, 0);
    int error = 0;
    GifFileType* gif = DGifOpen(&source, &ReadMemory, &error);
    if (gif == nullptr) return p;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1 && gif->SColorMap != nullptr) {
        p.width = gif->SWidth;
        p.height = gif->SHeight;
        p.colors = gif->SColorMap->ColorCount;
        const GifByteType* raster = gif->SavedImages[0].RasterBits;
        for (int i = 0; i < p.width * p.height; ++i) {
            const GifColorType& c = gif->SColorMap->Colors[raster[i]];
            p.pixels.push_back({c.Red, c.Green, c.Blue});
        }
    }
    DGifCloseFile(gif, &error);
    return p;
}

// A server of our own (the map server, or the program named by another
// variable), with its own arguments; stopped when the test ends.
class OwnServer {
public:
    explicit OwnServer(const std::vector<std::string>& args, const char* program = "PLIVORS_TEST_SERVER_BINARY") {
        const std::string dir = Env("PLIVORS_TEST_WORKDIR");
        portFile_ = JoinPath(dir, "own-server.port");
        outFile_ = JoinPath(dir, "own-server.out");
        std::remove(portFile_.c_str());
        std::vector<std::string> all = {Env(program), "--port", "0", "--port-file", portFile_,
                                        "--log", JoinPath(dir, "own-server.log")};
        all.insert(all.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            std::freopen(outFile_.c_str(), "w", stderr);
            std::freopen(outFile_.c_str(), "a", stdout);
            std::vector<char*> argv;
            for (std::string& a : all) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        for (int i = 0; i < 600 && status_ < 0; ++i) {
            std::ifstream port(portFile_);
            int n = 0;
            if (port >> n) {
                port_ = n;
                base_ = "http://127.0.0.1:" + std::to_string(n);
                return;
            }
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~OwnServer() {
        if (status_ < 0 && pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& base() const { return base_; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    int exitStatus() const { return status_; }
    std::string output() const { return ReadFile(outFile_); }
    // Waits up to `seconds` for the server to end; its exit status, or -1.
    int WaitExit(double seconds) {
        for (int i = 0; i < seconds * 20 && status_ < 0; ++i) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            else std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
    int port_ = 0;
    std::string portFile_, outFile_, base_;
};

}  // namespace server_testing
