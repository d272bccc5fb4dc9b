#include "programs.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace {
std::string binDirectory = ".";
bool wine = false;

long long nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string wineCommand()
{
    const char* forced = std::getenv("VN_WINE");
    if (forced)
        return forced;
    return access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine64";
}

// Windows consoles end lines in CR LF; the tests compare LF lines.
std::string fromWindowsLines(const std::string& text)
{
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        lines += text[i];
    }
    return lines;
}

// Reads what is there, waiting at most timeoutMs; false at end of output.
bool pump(RunningProgram& program, int timeoutMs)
{
    if (program.outFd < 0)
        return false;
    pollfd pfd{program.outFd, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0)
        return true;
    char chunk[4096];
    ssize_t n = read(program.outFd, chunk, sizeof chunk);
    if (n <= 0) {
        close(program.outFd);
        program.outFd = -1;
        return false;
    }
    program.raw.append(chunk, static_cast<size_t>(n));
    program.output = wine ? fromWindowsLines(program.raw) : program.raw;
    return true;
}

// The program's standard error; Wine's own messages in it are also kept in
// the file named by VN_WINE_STDERR.
std::string takeErrors(RunningProgram& program)
{
    if (program.errorFile.empty())
        return "";
    std::ifstream in(program.errorFile, std::ios::binary);
    std::string errors{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    unlink(program.errorFile.c_str());
    program.errorFile.clear();
    const char* log = std::getenv("VN_WINE_STDERR");
    if (wine && log)
        std::ofstream(log, std::ios::binary | std::ios::app) << errors;
    return wine ? fromWindowsLines(errors) : errors;
}

int decodeStatus(int raw)
{
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    return -1;
}
}  // namespace

void setProgramLocation(const std::string& binDir, bool underWine)
{
    // Absolute, since programs may run in another working directory.
    char* absolute = realpath(binDir.c_str(), nullptr);
    binDirectory = absolute ? absolute : binDir;
    std::free(absolute);
    wine = underWine;
}

bool programsUnderWine()
{
    return wine;
}

std::string programPath(const std::string& name)
{
    return binDirectory + "/" + name + (wine ? ".exe" : "");
}

RunningProgram startProgram(const std::string& name, const std::vector<std::string>& args,
                            const std::string& workDir)
{
    std::vector<std::string> command;
    if (wine)
        command.push_back(wineCommand());
    command.push_back(programPath(name));
    command.insert(command.end(), args.begin(), args.end());

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error("pipe");
    // Standard error goes to a file, not a pipe: Wine's services inherit it
    // and would hold a reader's pipe open.
    char errorPattern[] = "/tmp/vnloader-stderr-XXXXXX";
    int errorFd = mkstemp(errorPattern);
    if (errorFd < 0)
        throw std::runtime_error("mkstemp");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(errorFd, 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(126);
        setpgid(0, 0);
        std::vector<char*> argv;
        for (std::string& part : command)
            argv.push_back(part.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    close(errorFd);
    RunningProgram program;
    program.pid = pid;
    program.outFd = pipeFds[0];
    program.errorFile = errorPattern;
    return program;
}

bool waitForOutput(RunningProgram& program, const std::string& text, int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    while (program.output.find(text) == std::string::npos) {
        long long left = deadline - nowMs();
        if (left <= 0)
            return false;
        if (!pump(program, static_cast<int>(left > 100 ? 100 : left)) &&
            program.output.find(text) == std::string::npos)
            return false;
    }
    return true;
}

void forgetOutput(RunningProgram& program)
{
    program.output.clear();
    program.raw.clear();
}

ProgramResult finishProgram(RunningProgram& program, int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    int raw = 0;
    bool ended = false;
    while (!ended) {
        pid_t done = waitpid(program.pid, &raw, WNOHANG);
        if (done == program.pid) {
            ended = true;
            break;
        }
        if (nowMs() >= deadline)
            break;
        pump(program, 20);
    }
    if (!ended) {
        kill(-program.pid, SIGKILL);
        kill(program.pid, SIGKILL);
        waitpid(program.pid, &raw, 0);
    }
    while (pump(program, 200)) {
    }
    ProgramResult result{ended ? decodeStatus(raw) : -1, program.output, takeErrors(program)};
    program.pid = -1;
    return result;
}

ProgramResult stopProgram(RunningProgram& program)
{
    return finishProgram(program, 0);
}

ProgramResult runProgram(const std::string& name, const std::vector<std::string>& args,
                         int timeoutMs, const std::string& workDir)
{
    RunningProgram program = startProgram(name, args, workDir);
    return finishProgram(program, timeoutMs);
}

std::string makeTempDir()
{
    char pattern[] = "/tmp/vnloader-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    return pattern;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeTextFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<unsigned char> randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(size);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(random());
    return bytes;
}

std::string lastLine(std::string output)
{
    if (!output.empty() && output.back() == '\n')
        output.pop_back();
    std::size_t start = output.rfind('\n');
    return start == std::string::npos ? output : output.substr(start + 1);
}

std::vector<unsigned char> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int startupMs()
{
    return programsUnderWine() ? 30000 : 5000;
}

int udpSocket(const char* address, unsigned short port)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address, &at.sin_addr);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        ADD_FAILURE() << "cannot bind a socket to " << address << ":" << port;
    return fd;
}

void sendDatagram(unsigned short port, const std::string& payload)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
}
