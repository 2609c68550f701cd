// The DevTools message reader and client against a browser played by the test over a real
// pipe pair: messages cut at NUL bytes whatever the chunking, the size limit, answers matched
// by id out of order, error answers, events routed by session, the cap on waiting commands,
// and every waiting command failing when the browser's end closes.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "render/devtools_client.h"
#include "render/message_reader.h"

namespace qm::render {
namespace {

TEST(MessageReader, CutsAtNulWhateverTheChunksAndHoldsTheLimit) {
    const std::string stream = std::string("{\"a\":1}") + '\0' + "{}" + '\0' + '\0' + "{\"tail\"";
    for (std::size_t chunk : {1u, 2u, 3u, 7u, 100u}) {
        MessageReader reader;
        std::vector<std::string> out;
        for (std::size_t i = 0; i < stream.size(); i += chunk)
            ASSERT_TRUE(reader.Feed(stream.data() + i, std::min(chunk, stream.size() - i), out));
        ASSERT_EQ(out.size(), 3u) << chunk;
        EXPECT_EQ(out[0], "{\"a\":1}");
        EXPECT_EQ(out[1], "{}");
        EXPECT_EQ(out[2], "");
        EXPECT_EQ(reader.Buffered(), 7u);
    }
    // Exactly the limit passes; one byte more breaks the stream for good.
    MessageReader small(4);
    std::vector<std::string> out;
    EXPECT_TRUE(small.Feed("abcd\0", 5, out));
    EXPECT_TRUE(small.Feed("ab", 2, out));
    EXPECT_FALSE(small.Feed("cde", 3, out));
    EXPECT_TRUE(small.Broken());
    EXPECT_EQ(small.Buffered(), 0u);
    EXPECT_FALSE(small.Feed("\0", 1, out));
    EXPECT_EQ(out.size(), 1u);
}

// The browser's side of the two pipes.
struct FakeBrowser {
    int commands[2] = {-1, -1};  // the client writes [1], the fake reads [0]
    int answers[2] = {-1, -1};   // the fake writes [1], the client reads [0]
    FakeBrowser() {
        EXPECT_EQ(::pipe2(commands, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(answers, O_CLOEXEC), 0);
    }
    ~FakeBrowser() {
        for (int fd : {commands[0], commands[1], answers[0], answers[1]})
            if (fd >= 0) ::close(fd);
    }
    // Reads the next command (up to its NUL) as JSON.
    QJsonObject NextCommand() {
        std::string text;
        char c = 0;
        while (::read(commands[0], &c, 1) == 1 && c != '\0') text += c;
        return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    }
    void Send(const std::string& text) {
        const std::string framed = text + '\0';
        ASSERT_EQ(::write(answers[1], framed.data(), framed.size()), static_cast<ssize_t>(framed.size()));
    }
    void CloseAnswers() {
        ::close(answers[1]);
        answers[1] = -1;
    }
};

TEST(DevToolsClient, MatchesAnswersRoutesEventsAndFailsWhenTheBrowserGoes) {
    FakeBrowser browser;
    DevToolsClient client(browser.commands[1], browser.answers[0]);
    std::atomic<int> events{0};
    std::string eventMethod;
    client.SetEventHandler("S1", [&](const std::string& method, const QJsonObject& params) {
        eventMethod = method;
        if (params.value("n").toInt() == 5) ++events;
    });

    auto first = std::async(std::launch::async, [&] { return client.Call("A.one", {{"x", 1}}, "S1"); });
    const QJsonObject c1 = browser.NextCommand();
    EXPECT_EQ(c1.value("method").toString(), "A.one");
    EXPECT_EQ(c1.value("sessionId").toString(), "S1");
    EXPECT_EQ(c1.value("params").toObject().value("x").toInt(), 1);
    auto second = std::async(std::launch::async, [&] { return client.Call("A.two"); });
    const QJsonObject c2 = browser.NextCommand();
    EXPECT_FALSE(c2.contains("sessionId"));
    const int id1 = c1.value("id").toInt(), id2 = c2.value("id").toInt();
    EXPECT_NE(id1, id2);
    // Answers out of order, an event of another session, garbage and an unknown id between.
    browser.Send("{\"method\":\"E.x\",\"sessionId\":\"S2\",\"params\":{\"n\":5}}");
    browser.Send("not json at all");
    browser.Send("{\"id\":99999,\"result\":{}}");
    browser.Send("{\"id\":" + std::to_string(id2) + ",\"error\":{\"code\":-32000,\"message\":\"No target\"}}");
    browser.Send("{\"method\":\"E.y\",\"sessionId\":\"S1\",\"params\":{\"n\":5}}");
    browser.Send("{\"id\":" + std::to_string(id1) + ",\"result\":{\"value\":\"one\"}}");
    const CommandAnswer a1 = first.get(), a2 = second.get();
    EXPECT_TRUE(a1.ok);
    EXPECT_EQ(a1.result.value("value").toString(), "one");
    EXPECT_FALSE(a2.ok);
    EXPECT_EQ(a2.error, "No target");
    EXPECT_EQ(events.load(), 1);
    EXPECT_EQ(eventMethod, "E.y");

    // An event handler answers at once with Send, on the reader thread (a Call there would
    // wait for itself); the browser's answer to it is dropped.
    client.SetEventHandler("S3", [&](const std::string&, const QJsonObject& params) {
        client.Send("Fetch.continueRequest", {{"requestId", params.value("requestId")}}, "S3");
    });
    browser.Send("{\"method\":\"Fetch.requestPaused\",\"sessionId\":\"S3\",\"params\":{\"requestId\":\"r7\"}}");
    const QJsonObject sent = browser.NextCommand();
    EXPECT_EQ(sent.value("method").toString(), "Fetch.continueRequest");
    EXPECT_EQ(sent.value("sessionId").toString(), "S3");
    EXPECT_EQ(sent.value("params").toObject().value("requestId").toString(), "r7");
    EXPECT_GT(sent.value("id").toInt(), std::max(id1, id2));
    browser.Send("{\"id\":" + std::to_string(sent.value("id").toInt()) + ",\"result\":{}}");

    // A command nobody answers times out.
    const CommandAnswer late = client.Call("A.late", {}, {}, 100);
    EXPECT_FALSE(late.ok);
    EXPECT_EQ(late.error, "A.late timed out");
    browser.NextCommand();

    // The browser's end closes: a waiting command fails, so do later ones.
    auto waiting = std::async(std::launch::async, [&] { return client.Call("A.wait", {}, {}, 60000); });
    browser.NextCommand();
    browser.CloseAnswers();
    const CommandAnswer gone = waiting.get();
    EXPECT_FALSE(gone.ok);
    EXPECT_FALSE(client.Alive());
    EXPECT_FALSE(client.Call("A.after").ok);
    EXPECT_FALSE(client.Send("A.after", {}, {}));
}

TEST(DevToolsClient, RefusesCommandsBeyondTheCapAndBreaksOnAnOversizedMessage) {
    FakeBrowser browser;
    DevToolsClient client(browser.commands[1], browser.answers[0], 64);
    std::thread drain([&] {
        for (std::size_t i = 0; i < DevToolsClient::kMaxPending; ++i) browser.NextCommand();
    });
    std::vector<std::future<CommandAnswer>> calls;
    for (std::size_t i = 0; i < DevToolsClient::kMaxPending; ++i)
        calls.push_back(std::async(std::launch::async, [&] { return client.Call("W.ait", {}, {}, 60000); }));
    drain.join();
    const CommandAnswer refused = client.Call("One.more", {}, {}, 60000);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, "too many commands waiting for the browser");
    // A message longer than the reader's limit ends the conversation.
    browser.Send("{\"method\":\"Big\",\"params\":{\"text\":\"" + std::string(100, 'x') + "\"}}");
    for (auto& c : calls) EXPECT_FALSE(c.get().ok);
    EXPECT_FALSE(client.Alive());
}

}  // namespace
}  // namespace qm::render
