#include "SimChannel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace simchannel {

namespace {

constexpr std::size_t kMaxLine = 8192;

bool writeAll(int fd, const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads one line (without its '\n'); false at the end of the stream or on an error.
bool readLine(int fd, std::string& buffer, std::string& line) {
    while (true) {
        const auto nl = buffer.find('\n');
        if (nl != std::string::npos) {
            line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        if (buffer.size() > kMaxLine)
            return false;
        char chunk[1024];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

bool fillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string programOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

} // namespace

std::string folder(bool create) {
    std::string dir;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        dir = std::string(runtime) + "/scannersim";
    } else {
        const char* tmp = std::getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/scannersim-" +
              std::to_string(static_cast<unsigned>(getuid()));
    }
    if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {};
    // The folder must be ours and closed to others: a socket there answers to the user only.
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 0077) != 0)
        return {};
    return dir;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        std::string w;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"')
                w += line[i++];
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                w += line[i++];
        }
        out.push_back(std::move(w));
    }
    return out;
}

bool Server::start(const std::string& kind, Handler handler) {
    stop();
    const std::string dir = folder(true);
    if (dir.empty()) {
        std::fprintf(stderr, "%s simulator: no private folder for the control socket\n",
                     kind.c_str());
        return false;
    }
    ownerPid_ = static_cast<int>(getpid());
    path_ = dir + "/" + kind + "-" + std::to_string(ownerPid_) + ".sock";
    sockaddr_un addr{};
    if (!fillAddress(path_, addr)) {
        path_.clear();
        return false;
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return false;
    ::unlink(path_.c_str()); // a socket left by an earlier process with our pid
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(path_.c_str(), 0600) != 0 || ::listen(listenFd_, 4) != 0 ||
        ::pipe2(wakeFd_, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "%s simulator: cannot serve the control socket %s: %s\n", kind.c_str(),
                     path_.c_str(), std::strerror(errno));
        ::close(listenFd_);
        listenFd_ = -1;
        ::unlink(path_.c_str());
        path_.clear();
        return false;
    }
    handler_ = std::move(handler);
    thread_ = new std::thread([this] { serve(); });
    return true;
}

void Server::stop() {
    if (!thread_)
        return;
    auto* t = static_cast<std::thread*>(thread_);
    const char stopByte = 'x';
    (void)!::write(wakeFd_[1], &stopByte, 1);
    if (t->get_id() == std::this_thread::get_id())
        t->detach();
    else
        t->join();
    delete t;
    thread_ = nullptr;
    ::close(listenFd_);
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
    listenFd_ = wakeFd_[0] = wakeFd_[1] = -1;
    if (static_cast<int>(getpid()) == ownerPid_)
        ::unlink(path_.c_str());
    path_.clear();
}

void Server::serve() {
    while (true) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                converse(fd);
                ::close(fd);
            }
        }
    }
}

void Server::converse(int fd) {
    // One client at a time; a client that says nothing for 5 s is dropped so that the
    // channel stays usable.
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string buffer, line;
    while (readLine(fd, buffer, line)) {
        const std::vector<std::string> w = words(line);
        std::string answer = w.empty() ? std::string("error: empty command") : handler_(w);
        if (answer.empty() || answer.back() != '\n')
            answer += '\n';
        if (!writeAll(fd, answer + "\n"))
            return;
    }
}

std::vector<Endpoint> list() {
    std::vector<Endpoint> out;
    const std::string dir = folder(false);
    if (dir.empty())
        return out;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return out;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        const auto dash = name.rfind('-');
        if (dash == std::string::npos || name.size() < 6 ||
            name.compare(name.size() - 5, 5, ".sock") != 0)
            continue;
        Endpoint ep;
        ep.kind = name.substr(0, dash);
        ep.pid = std::atoi(name.substr(dash + 1, name.size() - 5 - dash - 1).c_str());
        ep.path = dir + "/" + name;
        // Alive when someone listens; a refused connection is a socket left by a crash.
        sockaddr_un addr{};
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || !fillAddress(ep.path, addr))
            continue;
        const bool alive = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        const int err = errno;
        ::close(fd);
        if (!alive) {
            if (err == ECONNREFUSED)
                ::unlink(ep.path.c_str());
            continue;
        }
        ep.program = programOf(ep.pid);
        out.push_back(std::move(ep));
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(), [](const Endpoint& a, const Endpoint& b) {
        return a.pid != b.pid ? a.pid < b.pid : a.kind < b.kind;
    });
    return out;
}

bool request(const std::string& path, const std::vector<std::string>& lines,
             std::vector<std::string>& answers, std::string& error) {
    answers.clear();
    sockaddr_un addr{};
    if (!fillAddress(path, addr)) {
        error = "socket path too long";
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = std::string("cannot reach ") + path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    timeval tv{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string buffer, line;
    bool ok = true;
    for (const std::string& l : lines) {
        if (!writeAll(fd, l + "\n")) {
            ok = false;
            break;
        }
        std::string answer;
        bool ended = false;
        while (readLine(fd, buffer, line)) {
            if (line.empty()) {
                ended = true;
                break;
            }
            if (!answer.empty())
                answer += '\n';
            answer += line;
        }
        if (!ended) {
            ok = false;
            break;
        }
        answers.push_back(std::move(answer));
    }
    ::close(fd);
    if (!ok)
        error = "the program closed the channel";
    return ok;
}

} // namespace simchannel
