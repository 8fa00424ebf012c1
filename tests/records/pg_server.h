// SPDX-License-Identifier: MIT
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace kx::test {

// A TCP port on 127.0.0.1 that nobody listened on a moment ago.
inline int FreeLocalPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return port;
}

// A throw-away PostgreSQL server of Debian's package: initdb and pg_ctl in
// a temporary folder, listening on 127.0.0.1 on a free port (and on a unix
// socket in that folder), superuser "kaldrix" without a password. The server
// refuses to run as root, so as root it runs as the user nobody, who owns
// the folder; otherwise as the current user. Stopped and removed at the end.
class PgServer {
public:
    // The newest installed server's programs, "" when there are none.
    static std::string FindBinDir() {
        namespace fs = std::filesystem;
        std::string best;
        int bestVersion = -1;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
            const fs::path bin = entry.path() / "bin";
            if (!fs::exists(bin / "initdb", ec) || !fs::exists(bin / "pg_ctl", ec)) {
                continue;
            }
            int version = -1;
            try {
                version = std::stoi(entry.path().filename().string());
            } catch (...) {
                continue;
            }
            if (version > bestVersion) {
                bestVersion = version;
                best = bin.string();
            }
        }
        return best;
    }

    explicit PgServer(std::string binDir) : bin_(std::move(binDir)) {}
    ~PgServer() {
        if (running_) {
            Run({bin_ + "/pg_ctl", "-D", Data(), "-m", "immediate", "-w", "stop"});
        }
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // A new cluster in the temporary folder, on a free port.
    bool Init(std::string* error) {
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (nobody == nullptr) {
                *error = "no user nobody to run the server as";
                return false;
            }
            uid_ = nobody->pw_uid;
            gid_ = nobody->pw_gid;
            if (::chown(dir_.path().c_str(), uid_, gid_) != 0) {
                *error = "cannot give the folder to nobody";
                return false;
            }
        }
        port_ = FreeLocalPort();
        if (port_ <= 0) {
            *error = "no free port";
            return false;
        }
        if (!Run({bin_ + "/initdb", "-D", Data(), "-U", "kaldrix", "-A", "trust", "-E", "UTF8",
                  "--no-locale", "--no-sync", "--no-instructions"})) {
            *error = "initdb failed: " + Log();
            return false;
        }
        std::ofstream conf(Data() + "/postgresql.conf", std::ios::app);
        conf << "\nlisten_addresses = '127.0.0.1'\nport = " << port_
             << "\nunix_socket_directories = '" << dir_.path().string()
             << "'\nfsync = off\nmax_connections = 20\nshared_buffers = 16MB\n";
        conf.close();
        if (!conf) {
            *error = "cannot write postgresql.conf";
            return false;
        }
        return true;
    }

    // The first start may find its port taken since Init (a test running
    // beside this one): it moves to another, in the setting that comes last
    // in postgresql.conf and so wins. A restart keeps the port.
    bool Start(std::string* error) {
        for (int attempt = 0;; ++attempt) {
            if (Run({bin_ + "/pg_ctl", "-D", Data(), "-l", dir_ / "server.log", "-w", "-t", "30",
                     "start"})) {
                break;
            }
            if (started_ || attempt == 2) {
                *error = "pg_ctl start failed: " + Log() + ReadLog("server.log");
                return false;
            }
            port_ = FreeLocalPort();
            std::ofstream conf(Data() + "/postgresql.conf", std::ios::app);
            conf << "port = " << port_ << "\n";
        }
        running_ = true;
        started_ = true;
        return true;
    }

    // The fast shutdown: connections are ended, open transactions rolled
    // back.
    bool Stop(std::string* error) {
        if (!Run({bin_ + "/pg_ctl", "-D", Data(), "-m", "fast", "-w", "-t", "30", "stop"})) {
            *error = "pg_ctl stop failed: " + Log();
            return false;
        }
        running_ = false;
        return true;
    }

    int Port() const { return port_; }
    std::string Uri() const {
        return "postgresql://kaldrix@127.0.0.1:" + std::to_string(port_) + "/postgres";
    }

private:
    std::string Data() const { return dir_ / "data"; }
    std::string Log() const { return ReadLog("commands.log"); }
    std::string ReadLog(const std::string& name) const {
        try {
            return ReadWhole(dir_.path() / name);
        } catch (...) {
            return "";
        }
    }

    // Runs a program of the server's (no shell) as the server's user, its
    // output appended to commands.log; true when it exited with 0 within a
    // minute.
    bool Run(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const std::string log = dir_ / "commands.log";
        const std::string folder = dir_.path().string();
        const bool drop = ::geteuid() == 0;
        const uid_t uid = uid_;
        const gid_t gid = gid_;
        // Only async-signal-safe calls between fork and exec: the test's
        // other threads (the sender) hold locks a child must not wait for.
        const pid_t pid = ::fork();
        if (pid < 0) {
            return false;
        }
        if (pid == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
            if (out < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) {
                ::_exit(126);
            }
            const int in = ::open("/dev/null", O_RDONLY);
            if (in >= 0) {
                ::dup2(in, 0);
            }
            if (drop &&
                (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
                ::_exit(126);
            }
            if (::chdir(folder.c_str()) != 0) {
                ::_exit(126);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        int status = 0;
        for (;;) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                break;
            }
            if (done < 0 || std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string bin_;
    TempDir dir_;
    uid_t uid_ = ::geteuid();
    gid_t gid_ = ::getegid();
    int port_ = -1;
    bool running_ = false;
    bool started_ = false;
};

// A blocking libpq connection for the test's own look at the server.
class PgClient {
public:
    explicit PgClient(const std::string& uri) {
        const std::string conninfo = uri + "?connect_timeout=5";
        conn_ = PQconnectdb(conninfo.c_str());
    }
    ~PgClient() { PQfinish(conn_); }
    PgClient(const PgClient&) = delete;
    PgClient& operator=(const PgClient&) = delete;

    bool Ok() const { return PQstatus(conn_) == CONNECTION_OK; }
    std::string Error() const { return PQerrorMessage(conn_); }

    // The rows of a parameterised query as texts (NULL as "<null>"); nothing
    // on an error, which Error() then tells.
    std::optional<std::vector<std::vector<std::string>>> Query(
        const std::string& sql, const std::vector<std::string>& params = {}) {
        std::vector<const char*> values;
        for (const std::string& p : params) {
            values.push_back(p.c_str());
        }
        PGresult* res = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                     values.empty() ? nullptr : values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(res);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            error_ = PQresultErrorMessage(res);
            PQclear(res);
            return std::nullopt;
        }
        std::vector<std::vector<std::string>> rows;
        for (int r = 0; r < PQntuples(res); ++r) {
            std::vector<std::string> row;
            for (int c = 0; c < PQnfields(res); ++c) {
                row.push_back(PQgetisnull(res, r, c) != 0 ? "<null>" : PQgetvalue(res, r, c));
            }
            rows.push_back(std::move(row));
        }
        PQclear(res);
        return rows;
    }
    const std::string& QueryError() const { return error_; }

private:
    PGconn* conn_ = nullptr;
    std::string error_;
};

}  // namespace kx::test
