#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::vector<char*> argvOf(std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

int decodeStatus(int raw)
{
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return 128 + WTERMSIG(raw);
    return -1;
}

} // namespace

RunResult runFerry2(const std::vector<std::string>& args, const std::string& cwd,
                    const std::string& stdinText, int timeoutMs, const RunHooks& hooks)
{
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe))
        throw std::runtime_error("pipe failed");
    std::vector<std::string> full{FERRY2_BIN};
    full.insert(full.end(), args.begin(), args.end());
    auto argv = argvOf(full);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        if (hooks.fileSizeLimit >= 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(hooks.fileSizeLimit);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        setenv("LC_ALL", hooks.locale.c_str(), 1);
        for (const std::string& change : hooks.environment) {
            const size_t eq = change.find('=');
            if (eq == std::string::npos)
                unsetenv(change.c_str());
            else
                setenv(change.substr(0, eq).c_str(), change.c_str() + eq + 1, 1);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);

    RunResult result;
    size_t written = 0;
    int inFd = inPipe[1];
    if (stdinText.empty()) {
        close(inFd);
        inFd = -1;
    }
    fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    if (inFd >= 0)
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    signal(SIGPIPE, SIG_IGN);

    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        if (msLeft(deadline) == 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (hooks.whileRunning)
            hooks.whileRunning(pid);
        pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        int n = poll(fds, inFd >= 0 ? 3 : 2, std::min(msLeft(deadline), hooks.whileRunning ? 20 : 200));
        if (n < 0 && errno != EINTR)
            break;
        char buffer[4096];
        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) {
            ssize_t got = read(outPipe[0], buffer, sizeof buffer);
            if (got > 0)
                result.out.append(buffer, static_cast<size_t>(got));
            else if (got == 0)
                outOpen = false;
        }
        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            ssize_t got = read(errPipe[0], buffer, sizeof buffer);
            if (got > 0)
                result.err.append(buffer, static_cast<size_t>(got));
            else if (got == 0)
                errOpen = false;
        }
        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = write(inFd, stdinText.data() + written, stdinText.size() - written);
            if (put > 0)
                written += static_cast<size_t>(put);
            if (put < 0 || written == stdinText.size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
    close(outPipe[0]);
    close(errPipe[0]);
    int raw = 0;
    waitpid(pid, &raw, 0);
    result.status = result.timedOut ? -1 : decodeStatus(raw);
    return result;
}

Pty::Pty()
{
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) || unlockpt(master))
        throw std::runtime_error("pty failed");
    slave = ptsname(master);
    // Holding a slave descriptor keeps the master readable after the client closes.
    slaveKeep = open(slave.c_str(), O_RDWR | O_NOCTTY);
    reader = std::thread([this] {
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            uint8_t buffer[4096];
            ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0) {
                std::lock_guard<std::mutex> guard(lock);
                data.insert(data.end(), buffer, buffer + got);
            }
        }
    });
}

Pty::~Pty()
{
    stop = true;
    reader.join();
    close(slaveKeep);
    close(master);
}

std::vector<uint8_t> Pty::received()
{
    std::lock_guard<std::mutex> guard(lock);
    return data;
}

bool Pty::waitFor(size_t n, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (data.size() >= n)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Sim::Sim(const std::vector<std::string>& args, const std::string& workDir)
{
    static int counter = 0;
    log = workDir + "/sim" + std::to_string(counter) + ".log";
    errPath = workDir + "/sim" + std::to_string(counter++) + ".err";
    std::vector<std::string> full{FERRY88SIM_BIN, "--log", log};
    full.insert(full.end(), args.begin(), args.end());
    auto argv = argvOf(full);
    int outPipe[2];
    if (pipe(outPipe))
        throw std::runtime_error("pipe failed");
    pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(errFd, 2);
        close(errFd);
        close(outPipe[0]);
        close(outPipe[1]);
        if (chdir(workDir.c_str()) != 0)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    outFd = outPipe[0];
    // The first line is the slave path.
    auto deadline = Clock::now() + std::chrono::seconds(10);
    std::string line;
    while (msLeft(deadline) > 0) {
        pollfd p{outFd, POLLIN, 0};
        if (poll(&p, 1, msLeft(deadline)) <= 0)
            break;
        char c;
        ssize_t got = read(outFd, &c, 1);
        if (got <= 0)
            break;
        if (c == '\n') {
            slave = line;
            break;
        }
        line += c;
    }
}

Sim::~Sim()
{
    stop();
}

void Sim::stop()
{
    if (pid > 0 && !exited) {
        kill(pid, SIGTERM);
        if (!waitExit(5000)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            exited = true;
        }
    }
    if (outFd >= 0) {
        close(outFd);
        outFd = -1;
    }
}

bool Sim::waitExit(int timeoutMs, int* status)
{
    if (exited)
        return true;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int raw = 0;
        pid_t done = waitpid(pid, &raw, WNOHANG);
        if (done == pid) {
            exited = true;
            if (status)
                *status = decodeStatus(raw);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return false;
}

std::vector<std::string> Sim::logLines() const
{
    return testsupport::readLines(log);
}

std::string Sim::stderrText() const
{
    auto bytes = readFile(errPath);
    return std::string(bytes.begin(), bytes.end());
}

std::string jsonField(const std::string& line, const std::string& key)
{
    std::string pattern = "\"" + key + "\":";
    size_t at = line.find(pattern);
    if (at == std::string::npos)
        return "";
    at += pattern.size();
    while (at < line.size() && line[at] == ' ')
        ++at;
    if (at < line.size() && line[at] == '"') {
        size_t end = line.find('"', at + 1);
        return line.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    }
    size_t end = line.find_first_of(",}", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::vector<std::string> logPayloads(const std::vector<std::string>& lines, char lead)
{
    std::vector<std::string> payloads;
    for (const auto& line : lines) {
        if (jsonField(line, "lead") == std::string(1, lead))
            payloads.push_back(jsonField(line, "payload"));
    }
    return payloads;
}

} // namespace e2e
