#pragma once
// Tests that run quillmoor-cli as users do, on a program folder of their own: a fresh
// temporary folder holding the program folder "home" and the download folder "store", the
// sites the test serves beside them, and a self-signed certificate for https peers.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/peers.h"

namespace qm::test {

class CliHomeTest : public ::testing::Test {
protected:
    // cliTimeoutMs: how long one quillmoor-cli run may take.
    explicit CliHomeTest(int cliTimeoutMs = 120000) : cliTimeoutMs_(cliTimeoutMs) {}

    // Makes dir_ (a temporary folder named after tag), home_ and store_ in it, and sets
    // store_ as the download folder ("PathPrefix"), with the other options given (NAME=VALUE).
    void MakeHome(const std::string& tag, const std::vector<std::string>& options = {}) {
        dir_ = MakeTempDir(tag);
        home_ = dir_ + "/home";
        store_ = dir_ + "/store";
        std::filesystem::create_directories(home_);
        std::filesystem::create_directories(store_);
        std::vector<std::string> args = {"options", "PathPrefix=" + store_ + "/"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = Cli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    // quillmoor-cli args on this program folder.
    RunResult Cli(std::vector<std::string> args, int timeoutMs = 0) const {
        args.insert(args.begin(), {"--home", home_});
        return RunCli(args, timeoutMs > 0 ? timeoutMs : cliTimeoutMs_);
    }

    // The folder a test keeps the site called name in (beside the program folder).
    std::string Site(const std::string& name) const { return dir_ + "/" + name; }

    // A self-signed certificate for localhost, made by openssl as Site("tls")/cert.pem with
    // its key.pem, and trusted by the programs this test starts from now on.
    void TrustLocalhostCertificate() {
        const std::string certDir = Site("tls");
        std::filesystem::create_directories(certDir);
        const RunResult made = RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                           certDir + "/key.pem", "-out", certDir + "/cert.pem", "-days", "2", "-subj",
                                           "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        setenv("SSL_CERT_FILE", (certDir + "/cert.pem").c_str(), 1);
    }

    std::string dir_, home_, store_;

private:
    int cliTimeoutMs_;
};

}  // namespace qm::test
