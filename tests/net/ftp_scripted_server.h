#pragma once
// A scripted FTP server for the connection tests, for what real servers will not do:
// replies split over reads, odd multi-line replies, huge sizes, hostile listings, refused
// data connections. It listens on 127.0.0.1; each control connection is served on the
// server's thread, command by command, by a handler that the test gives.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

class ScriptedFtpServer {
public:
    // What a handler works with: the control connection and the data connection.
    struct Session {
        int control = -1;
        int data = -1;
        int passiveListener = -1;
        int portNumber = 0;                   // from the last PORT
        std::string portHost;                 // from the last PORT
        std::int64_t restAt = 0;              // from the last REST
        void Send(const std::string& bytes);  // on the control connection, as one write
        static void Pause(int ms);
        // Active: connects to the address of the last PORT from source (an address of this
        // machine). Passive: accepts on the listener opened by ListenPassive.
        bool OpenData(const std::string& source = "127.0.0.1");
        int ListenPassive();  // a listener on 127.0.0.1; returns its port
        void SendData(const std::string& bytes);
        void CloseData();
    };
    // Called for every command line; returns false to close the control connection.
    // A handler that does not know a command may pass it to Standard.
    using Handler = std::function<bool(Session&, const std::string& verb, const std::string& arg)>;

    // files: path -> content, served by Standard (a path ending in "/" is a listing).
    ScriptedFtpServer(std::string greeting, std::map<std::string, std::string> files, Handler handler = nullptr);
    ~ScriptedFtpServer();
    int Port() const { return port_; }
    std::string Url(const std::string& path) const;
    // The command lines received, in order, over all connections.
    std::vector<std::string> Commands();
    // The usual answers of a server that serves files_ (REST, PORT and PASV included).
    bool Standard(Session& s, const std::string& verb, const std::string& arg);

private:
    void Serve();
    void Play(int fd);
    int listener_ = -1;
    int port_ = 0;
    std::string greeting_;
    std::map<std::string, std::string> files_;
    Handler handler_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> commands_;
    std::thread thread_;
};

}  // namespace qm::test
