#pragma once
// Talking to the server under test from another thread while the main thread keeps its
// event loop going (the server builds pages and maps paths there).
#include <string>

namespace qm::test {

// Connects to 127.0.0.1:port, sends raw (nothing when empty), reads until the server closes
// and returns all bytes; empty when the connection failed. On the main thread its event loop
// runs meanwhile.
// With ipv6 it connects to [::1]:port instead.
std::string Exchange(int port, const std::string& raw, int timeoutMs = 20000, bool ipv6 = false);
// Exchange with "GET path HTTP/1.0\r\n" + extra + "\r\n".
std::string Get(int port, const std::string& path, const std::string& extraHeaders = "");

// Response parts.
std::string StatusLine(const std::string& response);
std::string HeaderOf(const std::string& response);  // up to and including the blank line
std::string BodyOf(const std::string& response);

}  // namespace qm::test
