#pragma once
// Child processes for the benchmark: a program run to its end and timed from the outside, and a
// long-lived helper spoken to line by line over pipes.

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

struct ProcessRun {
    double elapsedUs = 0; // from just before the spawn to just after the child was reaped
    int exitStatus = -1;  // the exit code, or -1 when the child did not exit normally
    std::string output;   // standard output and error together, when captured
};

// Runs `argv` (looked up on PATH) with standard input from /dev/null and the given environment,
// and waits for it. Output goes to /dev/null unless `captureOutput`. An argv[0] that cannot be
// started gives exit status 127.
ProcessRun RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                      bool captureOutput);

// A helper program whose standard input and output are pipes to this process; its standard
// error stays ours. Closing its input on destruction lets it end; then it is reaped.
class Coprocess {
public:
    explicit Coprocess(const std::vector<std::string>& argv);
    ~Coprocess();
    Coprocess(const Coprocess&) = delete;
    Coprocess& operator=(const Coprocess&) = delete;

    void WriteLine(const std::string& line);
    // The next line without its LF; empty when the helper has ended.
    std::string ReadLine();

private:
    pid_t pid_ = -1;
    FILE* toChild_ = nullptr;
    FILE* fromChild_ = nullptr;
};
