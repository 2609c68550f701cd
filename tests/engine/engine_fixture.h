#pragma once
// A Project tree, program options and a private temporary folder for engine runs against
// real servers on loopback; a stand-in analysis that follows "LINK <address>" lines.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/queue_manager.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm::test {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // nginx serving Site() with extra server directives.
    void StartNginx(const std::string& extra = "");
    std::string Url(const std::string& path) const { return nginx_->Url(path); }
    std::string Site() const { return dir_ + "/site"; }
    std::string Store() const { return dir_ + "/store"; }
    void Serve(const std::string& path, const std::string& body);

    store::Project& AddProject(const std::string& url, int lev = 1);
    // The local file of an address of a Project.
    std::string LocalOf(store::Project& project, const std::string& url);
    std::unique_ptr<engine::QueueManager> MakeQueue(int connections);
    bool RunIdle(engine::QueueManager& queue, int timeoutMs = 60000);
    // Requests nginx logged for path ("GET /x HTTP/1.1"), and the status of the last one.
    int Requests(const std::string& path) const;
    std::string LastStatus(const std::string& path) const;
    // Files left in the private temporary folder.
    int TempFiles() const;

    std::string dir_;
    std::unique_ptr<NginxPeer> nginx_;
    store::ProjectTree tree_;
    store::ProjectFolder* folder_ = nullptr;
};

// Creates the records for the links of a document (one level less), as the analysis does.
void InstallLinkAnalysis();

}  // namespace qm::test
