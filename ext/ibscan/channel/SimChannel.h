// The control channel of the scanner simulators: a local socket per library and process
// (AF_UNIX, file mode 0600, in a 0700 folder of the user's runtime folder), text commands
// one a line. The libraries serve it on a small thread; the scannersim tool talks to it.
//
// Protocol: the client sends one command a line; the server answers each with one or more
// lines, the first "ok" or "error: <reason>", and ends the answer with an empty line.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace simchannel {

// The folder of the sockets: $XDG_RUNTIME_DIR/scannersim, or <temp folder>/scannersim-<uid>
// when XDG_RUNTIME_DIR is unset. Created (0700) when `create`; empty when it cannot be used
// (not ours, or open to others).
std::string folder(bool create);

// Splits a command line into words (white space separates; "..." keeps spaces).
std::vector<std::string> words(const std::string& line);

class Server {
  public:
    // Answers one command (its words); the answer's first line is "ok..." or "error: ...".
    using Handler = std::function<std::string(const std::vector<std::string>& words)>;

    Server() = default;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server() { stop(); }

    // Creates <folder>/<kind>-<pid>.sock and serves it. False (with a word on stderr) when
    // the socket cannot be made; the library works on without it.
    bool start(const std::string& kind, Handler handler);
    // Stops serving and removes the socket file.
    void stop();
    const std::string& path() const { return path_; }

  private:
    void serve();
    void converse(int fd);

    Handler handler_;
    std::string path_;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    int ownerPid_ = 0;
    void* thread_ = nullptr; // std::thread, kept out of the header
};

struct Endpoint {
    std::string kind; // "ibscan" or "scanman"
    int pid = 0;
    std::string path;    // the socket
    std::string program; // the process's name
};

// Live endpoints in the folder, oldest process first; stale sockets (no one listening)
// are removed.
std::vector<Endpoint> list();

// Sends the lines and collects the answers (one string per command, lines joined with
// '\n', without the closing empty line). False with `error` set when the socket cannot be
// reached.
bool request(const std::string& path, const std::vector<std::string>& lines,
             std::vector<std::string>& answers, std::string& error);

} // namespace simchannel
