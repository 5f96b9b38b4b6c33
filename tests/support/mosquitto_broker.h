#pragma once
// A real Mosquitto broker of a test's own: started on a free port of 127.0.0.1 with anonymous
// clients allowed (or the settings given), stopped (SIGTERM) when the object goes. Stop and
// Restart take it away and bring it back on the same port, as an administrator restarting the
// broker does. It throws when the broker cannot be started, so a machine without `mosquitto`
// fails the test loudly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/file_bytes.h"
#include "support/scratch_directory.h"

extern char** environ;

class MosquittoBroker {
  public:
    // `settings`: mosquitto.conf lines for the listener (who may connect, TLS), which may also
    // change those before them.
    explicit MosquittoBroker(const std::string& settings = "allow_anonymous true\n")
        : m_dir("thermal-broker"), m_port(FreePort()) {
        const passwd* user = ::getpwuid(::getuid());
        std::ofstream config(m_dir / "mosquitto.conf");
        config << "listener " << m_port << " 127.0.0.1\n"
               << "persistence false\n"
               // A recorder away for a minute at 100 frames a second finds every frame kept.
               << "max_queued_messages 10000\n"
               // As a broker for live frames should be set up: each message goes out at once.
               << "set_tcp_nodelay true\n"
               // Run as root, the broker would switch to the user "mosquitto", who cannot read
               // the test's directory.
               << "user " << (user != nullptr ? user->pw_name : "root") << "\n"
               << "log_dest file " << (m_dir / "mosquitto.log").string() << "\n"
               << settings;
        config.close();
        Restart();
    }
    ~MosquittoBroker() { Stop(); }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    int Port() const { return m_port; }
    // "mqtt://127.0.0.1:PORT".
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(m_port); }

    // Starts the broker (again) and returns once it accepts connections.
    void Restart() {
        if (m_pid > 0) {
            return;
        }
        const std::string program = Program();
        const std::string configPath = (m_dir / "mosquitto.conf").string();
        const std::string outputPath = (m_dir / "output.log").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("-c"),
                        const_cast<char*>(configPath.c_str()), nullptr};
        const int error = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            m_pid = -1;
            throw std::runtime_error("cannot start " + program);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Accepts()) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                throw std::runtime_error(
                    "mosquitto ended at start: " + ReadWhole(m_dir / "output.log") +
                    ReadWhole(m_dir / "mosquitto.log"));
            }
            if (std::chrono::steady_clock::now() > deadline) {
                throw std::runtime_error("mosquitto does not accept connections on port " +
                                         std::to_string(m_port));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Ends the broker (SIGTERM) and waits for it.
    void Stop() {
        if (m_pid <= 0) {
            return;
        }
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

  private:
    // The broker is installed in /usr/sbin, which a user's PATH may lack.
    static std::string Program() {
        for (const char* path : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto"}) {
            if (::access(path, X_OK) == 0) {
                return path;
            }
        }
        throw std::runtime_error("mosquitto is not installed (scripts/install-deps.sh --test)");
    }

    // A port the system just handed out, free again once the probe socket is closed.
    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("no free local port for the broker");
        }
        ::close(fd);
        return ntohs(address.sin_port);
    }

    bool Accepts() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(m_port));
        const bool accepts =
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return accepts;
    }

    ScratchDirectory m_dir;
    const int m_port;
    pid_t m_pid = -1;
};
