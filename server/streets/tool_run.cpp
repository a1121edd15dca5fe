#include "server/streets/tool_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "server/database/database.h"

namespace streets {

volatile sig_atomic_t interrupted = 0;

namespace {

void Interrupt(int signal) { interrupted = signal; }
const int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};

std::string Quoted(const std::string& value) {  // a conninfo value
    std::string q = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\') q += '\\';
        q += c;
    }
    return q + "'";
}

// A child's exit status, 128 + signal when a signal ended it; waits
// through interruptions, passing our stop on to it.
int Wait(pid_t child, bool& signalled) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        if (interrupted && !signalled) {
            kill(child, SIGTERM);  // Ctrl-C reached it too; a TERM to us alone must
            signalled = true;
        }
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& password, int out[2]) {
    if (pipe(out) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    pid_t child = fork();
    if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (child > 0) return child;
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(out[0]);
    close(out[1]);
    if (!password.empty()) setenv("PGPASSWORD", password.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
}

// Passes the child's output on as it comes (its progress) and keeps its
// last line.
std::string Relay(int from, pid_t child, bool& signalled) {
    std::string line, last;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            if (interrupted && !signalled) {
                kill(child, SIGTERM);
                signalled = true;
            }
            continue;
        }
        if (n <= 0) return last;
        (void)!write(2, buffer, static_cast<size_t>(n));
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n' && buffer[i] != '\r') {
                if (line.size() < 1000) line += buffer[i];
            } else if (!line.empty()) {
                last = std::move(line);
                line.clear();
            }
        }
    }
}

}  // namespace

SignalGuard::SignalGuard() {
    struct sigaction a {};
    a.sa_handler = &Interrupt;
    sigemptyset(&a.sa_mask);
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &a, &old_[i]);
}

SignalGuard::~SignalGuard() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &old_[i], nullptr);
}

void StopIfInterrupted() {
    if (interrupted) throw Interrupted();
}

void RunTool(const std::vector<std::string>& args, const std::string& password) {
    int out[2];
    const pid_t child = Spawn(args, password, out);
    close(out[1]);
    bool signalled = false;
    const std::string last = Relay(out[0], child, signalled);
    close(out[0]);
    const int status = Wait(child, signalled);
    StopIfInterrupted();
    if (status != 0) throw ToolFailed(status, last);
}

std::string Conninfo(const std::string& url, std::string& password) {
    std::string conninfo;
    for (const auto& w : database::ParseUrl(url)) {
        if (w.first == "password") password = w.second;
        else conninfo += (conninfo.empty() ? "" : " ") + w.first + "=" + Quoted(w.second);
    }
    return conninfo;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string FileHead(const std::string& file, size_t bytes, std::string& why) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        why = "cannot read " + file + ": " + std::strerror(errno);
        return "";
    }
    std::string head(bytes, '\0');
    in.read(&head[0], static_cast<std::streamsize>(bytes));
    head.resize(static_cast<size_t>(in.gcount()));
    return head;
}

}  // namespace streets
