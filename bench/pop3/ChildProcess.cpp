#include "bench/pop3/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

extern char** environ;

namespace {

std::vector<char*> PointerList(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& text : strings)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

int ExitStatusOf(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

std::string ReadAll(int fd) {
    std::string text;
    char chunk[4096];
    ssize_t count;
    while ((count = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(count));
    return text;
}

void MakePipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe");
}

} // namespace

ProcessRun RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                      bool captureOutput) {
    int output[2] = {-1, -1};
    if (captureOutput)
        MakePipe(output);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (captureOutput) {
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> arguments = PointerList(argv);
    std::vector<char*> variables = PointerList(environment);

    ProcessRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int failure =
        posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), variables.data());
    posix_spawn_file_actions_destroy(&actions);
    if (captureOutput) {
        close(output[1]);
        if (failure == 0)
            run.output = ReadAll(output[0]);
        close(output[0]);
    }
    if (failure != 0) {
        run.exitStatus = 127;
        return run;
    }
    int waitStatus = 0;
    waitpid(pid, &waitStatus, 0);
    run.elapsedUs =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    run.exitStatus = ExitStatusOf(waitStatus);
    return run;
}

Coprocess::Coprocess(const std::vector<std::string>& argv) {
    int input[2], output[2];
    MakePipe(input);
    MakePipe(output);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    std::vector<char*> arguments = PointerList(argv);
    const int failure = posix_spawnp(&pid_, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    toChild_ = fdopen(input[1], "w");
    fromChild_ = fdopen(output[0], "r");
    if (failure != 0)
        pid_ = -1;
}

Coprocess::~Coprocess() {
    fclose(toChild_);
    fclose(fromChild_);
    if (pid_ > 0)
        waitpid(pid_, nullptr, 0);
}

void Coprocess::WriteLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), toChild_);
    std::fflush(toChild_);
}

std::string Coprocess::ReadLine() {
    std::string line;
    int character;
    while ((character = std::fgetc(fromChild_)) != EOF && character != '\n')
        line.push_back(static_cast<char>(character));
    return line;
}
