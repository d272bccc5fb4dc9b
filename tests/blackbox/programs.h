// Runs the built programs as an operator would: natively, or the Windows
// build under Wine (--bin-dir=DIR [--wine]).
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProgramResult {
    int status;  // exit status 0..255, or -1 when killed after the time limit
    std::string output;
    std::string errors;  // standard error (under Wine with Wine's own messages)
};

// Where the programs are; set from the command line.
void setProgramLocation(const std::string& binDir, bool underWine);
bool programsUnderWine();
// How long a program may take to start: Wine starts slowly.
int startupMs();
// A built program's path (VNloader, VNsim, ...), with .exe under Wine.
std::string programPath(const std::string& name);

ProgramResult runProgram(const std::string& name, const std::vector<std::string>& args,
                         int timeoutMs, const std::string& workDir = "");

struct RunningProgram {
    pid_t pid = -1;
    int outFd = -1;
    std::string output;  // under Wine with the console's CR LF turned into LF
    std::string raw;     // as the program wrote it
    std::string errorFile;  // where its standard error goes, read at its end
};

RunningProgram startProgram(const std::string& name, const std::vector<std::string>& args,
                            const std::string& workDir = "");
// Reads output until it holds text (true) or the time runs out (false).
bool waitForOutput(RunningProgram& program, const std::string& text, int timeoutMs);
// Forgets the output read so far.
void forgetOutput(RunningProgram& program);
// Waits for the program to end by itself; kills it after the time limit.
ProgramResult finishProgram(RunningProgram& program, int timeoutMs);
// Ends it now.
ProgramResult stopProgram(RunningProgram& program);

std::string makeTempDir();
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);
void writeTextFile(const std::string& path, const std::string& text);
std::vector<unsigned char> readFile(const std::string& path);
// Bytes of a fixed pseudo-random sequence.
std::vector<unsigned char> randomBytes(std::size_t size, unsigned seed);
// The last line of a program's output, without its line end.
std::string lastLine(std::string output);
// A UDP socket bound to address:port (port 0: any).
int udpSocket(const char* address, unsigned short port);
// One UDP datagram from 127.0.0.1 to 127.0.0.1:port.
void sendDatagram(unsigned short port, const std::string& payload);
