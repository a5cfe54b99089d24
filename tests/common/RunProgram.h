#pragma once
// Runs a program as a separate process and collects its exit status and output, for the
// tests of the command-line tools. No Qt.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testrun {

struct Outcome {
    int status = -1; // exit status, -1 when the program did not exit normally
    std::string out, err;
};

inline std::string drain(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, size_t(n));
    close(fd);
    return s;
}

// Runs `program` with `args` in the working directory `dir`. Standard output and error are
// read one after the other, which suits the short outputs of the tools.
inline Outcome run(const std::filesystem::path& program, std::vector<std::string> args,
                   const std::filesystem::path& dir) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Outcome r;
    r.out = drain(out[0]);
    r.err = drain(err[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// A fresh folder under the temporary directory, removed with everything in it.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        std::string t = (std::filesystem::temp_directory_path() / "tool-test-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
};

} // namespace testrun
