// What a user installs: the man pages say what --help says, and the packages build, unpack,
// and pass lintian, desktop-file-validate and appstreamcli, with programs that run from the
// unpacked tree and a bash completion that completes from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "support/peers.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

std::string BinaryDir() {
    const char* bin = std::getenv("QM_BINARY_DIR");
    return bin && *bin ? bin : ".";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A man page's source with roff's escapes for "-" and '"' read back.
std::string ManText(const std::string& name) {
    std::string text = ReadFile(std::string(QM_SOURCE_DIR) + "/packaging/" + name);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\-") == 0) {
            out += '-';
            ++i;
        } else if (text.compare(i, 4, "\\(dq") == 0) {
            out += '"';
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

TEST(ManPages, ListExactlyTheCommandsAndOptionsOfHelp) {
    RunResult help = RunCli({"--help"});
    ASSERT_EQ(help.exitCode, 0);
    const std::string man = ManText("quillmoor-cli.1");
    const std::vector<std::string> manLines = Lines(man);
    // Every command of --help, with its arguments exactly, as an entry of COMMANDS.
    std::set<std::string> commands;
    for (const std::string& line : Lines(help.out)) {
        if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ') continue;
        std::istringstream words(line);
        std::string name;
        words >> name;
        std::string usage;
        std::getline(words, usage);
        usage.erase(0, usage.find_first_not_of(' '));
        commands.insert(name);
        const std::string entry = Trimmed(".B " + name + " " + usage);
        bool found = false;
        for (const std::string& m : manLines) found = found || Trimmed(m) == entry;
        EXPECT_TRUE(found) << "quillmoor-cli.1 lacks: " << entry;
    }
    EXPECT_GE(commands.size(), 20u);
    EXPECT_TRUE(commands.count("check"));
    // ... and no entry for a command --help does not have.
    bool inCommands = false;
    for (std::size_t i = 0; i + 1 < manLines.size(); ++i) {
        if (manLines[i].rfind(".SH", 0) == 0) inCommands = manLines[i] == ".SH COMMANDS";
        if (inCommands && manLines[i] == ".TP" && manLines[i + 1].rfind(".B ", 0) == 0) {
            std::istringstream words(manLines[i + 1].substr(3));
            std::string name;
            words >> name;
            EXPECT_TRUE(commands.count(name)) << "quillmoor-cli.1 describes an unknown command: " << name;
        }
    }
    for (const char* option : {"--home", "--version", "--help"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
        EXPECT_NE(man.find(option), std::string::npos) << option;
    }

    // The window's options: every word its --help explains is an entry of the man page.
    if (!QM_GUI_BUILT) GTEST_SKIP() << "the desktop program is not built";
    RunResult gui = RunProgram({BinaryDir() + "/src/ui/quillmoor", "--help"});
    ASSERT_EQ(gui.exitCode, 0) << gui.err;
    const std::string guiMan = ManText("quillmoor.1");
    int options = 0;
    for (const std::string& line : Lines(gui.out)) {
        if (line.rfind("  ", 0) != 0) continue;
        std::istringstream words(line);
        std::string word;
        words >> word;
        ++options;
        const bool entry = guiMan.find(".B " + word + "\n") != std::string::npos ||
                           guiMan.find(".BI " + word + " ") != std::string::npos ||
                           guiMan.find(".BR " + word + " ") != std::string::npos;
        EXPECT_TRUE(entry) << "quillmoor.1 lacks an entry for " << word;
    }
    EXPECT_GE(options, 6);
}

// The width and height of a PNG file (0 when it is none).
std::pair<int, int> PngSize(const std::string& path) {
    const std::string data = ReadFile(path);
    if (data.size() < 24 || data.compare(1, 3, "PNG") != 0 || data.compare(12, 4, "IHDR") != 0) return {0, 0};
    auto be32 = [&](std::size_t at) {
        return (int(static_cast<unsigned char>(data[at])) << 24) |
               (int(static_cast<unsigned char>(data[at + 1])) << 16) |
               (int(static_cast<unsigned char>(data[at + 2])) << 8) | int(static_cast<unsigned char>(data[at + 3]));
    };
    return {be32(16), be32(20)};
}

TEST(Packages, BuildUnpackAndPassDebiansChecks) {
    for (const char* tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "lintian", "desktop-file-validate", "appstreamcli"})
        ASSERT_FALSE(FindProgram(tool).empty()) << tool << " is missing (scripts/deps.sh installs it)";
    const std::string dir = MakeTempDir("packages");
    RunResult r = RunProgram({"cpack", "-G", "DEB", "--config", BinaryDir() + "/CPackConfig.cmake", "-B", dir}, 240000);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    std::vector<std::string> debs;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".deb") debs.push_back(e.path().string());
    std::sort(debs.begin(), debs.end());
    ASSERT_EQ(debs.size(), QM_GUI_BUILT ? 2u : 1u);
    std::string cliPackage, guiPackage;
    for (const std::string& deb : debs) {
        RunResult name = RunProgram({"dpkg-deb", "-f", deb, "Package"});
        ASSERT_EQ(name.exitCode, 0) << name.err;
        (Trimmed(name.out.substr(0, name.out.find('\n'))) == "quillmoor-cli" ? cliPackage : guiPackage) = deb;
    }
    ASSERT_FALSE(cliPackage.empty());

    // The dependencies come from the shared libraries the programs use.
    RunResult depends = RunProgram({"dpkg-deb", "-f", cliPackage, "Depends"});
    EXPECT_NE(depends.out.find("libc6"), std::string::npos) << depends.out;
    EXPECT_NE(depends.out.find("libqt6core6"), std::string::npos) << depends.out;
    EXPECT_NE(depends.out.find("libssl3"), std::string::npos) << depends.out;

    const std::string root = dir + "/root";
    for (const std::string& deb : debs) {
        r = RunProgram({"dpkg-deb", "-x", deb, root});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    // One lintian run for both packages: it takes most of this test's time.
    std::vector<std::string> lintian{"lintian", "--fail-on", "error"};
    lintian.insert(lintian.end(), debs.begin(), debs.end());
    r = RunProgram(lintian, 240000);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("E: "), std::string::npos) << r.out;

    // The unpacked programs run.
    r = RunProgram({root + "/usr/bin/quillmoor-cli", "--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "quillmoor-cli 1.0\n");
    r = RunProgram({root + "/usr/bin/quillmoor-cli", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("  check    FOLDER/PROJECT"), std::string::npos) << r.out;
    for (const char* file : {"/usr/include/quillmoor/plugin.h", "/usr/share/quillmoor/lang/qm.int.de",
                             "/usr/share/man/man1/quillmoor-cli.1.gz", "/usr/share/doc/quillmoor-cli/copyright"})
        EXPECT_TRUE(fs::exists(root + file)) << file;

    // The user service runs the unattended program.
    const std::string service = ReadFile(root + "/usr/lib/systemd/user/quillmoor-serve.service");
    EXPECT_NE(service.find("\nExecStart=/usr/bin/quillmoor-cli serve\n"), std::string::npos) << service;
    EXPECT_NE(service.find("\nWantedBy=default.target\n"), std::string::npos) << service;

    // Completion from the unpacked tree: commands, option names and FOLDER/PROJECT words.
    const std::string home = dir + "/home";
    ASSERT_EQ(
        RunProgram({root + "/usr/bin/quillmoor-cli", "--home", home, "add", "Docs", "http://127.0.0.1:9/"}).exitCode,
        0);
    const std::string script = "source " + root +
                               "/usr/share/bash-completion/completions/quillmoor-cli\n"
                               "c=" +
                               root +
                               "/usr/bin/quillmoor-cli\n"
                               "COMP_WORDS=($c ch); COMP_CWORD=1; _quillmoor_cli; echo \"1:${COMPREPLY[*]}\"\n"
                               "COMP_WORDS=($c --home " +
                               home +
                               " options KeepA); COMP_CWORD=4; _quillmoor_cli; echo \"2:${COMPREPLY[*]}\"\n"
                               "COMP_WORDS=($c --home " +
                               home + " check D); COMP_CWORD=4; _quillmoor_cli; echo \"3:${COMPREPLY[*]}\"\n";
    r = RunProgram({"bash", "-c", script});
    EXPECT_EQ(r.out, "1:check\n2:KeepAlive=\n3:Default/all Docs/all Docs/0\n") << r.out << r.err;

    if (!QM_GUI_BUILT) return;
    ASSERT_FALSE(guiPackage.empty());
    RunResult guiDepends = RunProgram({"dpkg-deb", "-f", guiPackage, "Depends"});
    EXPECT_NE(guiDepends.out.find("quillmoor-cli (= 1.0)"), std::string::npos) << guiDepends.out;
    EXPECT_NE(guiDepends.out.find("libqt6widgets6"), std::string::npos) << guiDepends.out;
    r = RunProgram({root + "/usr/bin/quillmoor", "--version"});
    EXPECT_EQ(r.out, "quillmoor 1.0\n") << r.err;
    const std::string desktop = root + "/usr/share/applications/org.quillmoor.Quillmoor.desktop";
    r = RunProgram({"desktop-file-validate", desktop});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(ReadFile(desktop).find("\nExec=quillmoor %U\n"), std::string::npos);
    r = RunProgram(
        {"appstreamcli", "validate", "--no-net", root + "/usr/share/metainfo/org.quillmoor.Quillmoor.metainfo.xml"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    // The screenshot the metainfo shows is the one kept in packaging/screenshots/.
    const std::string metainfo = ReadFile(root + "/usr/share/metainfo/org.quillmoor.Quillmoor.metainfo.xml");
    const std::string published = "https://quillmoor.example.org/screenshots/";
    const std::size_t image = metainfo.find("<image>" + published);
    ASSERT_NE(image, std::string::npos) << metainfo;
    const std::size_t nameAt = image + 7 + published.size();
    const std::string shot = metainfo.substr(nameAt, metainfo.find('<', nameAt) - nameAt);
    EXPECT_TRUE(fs::exists(std::string(QM_SOURCE_DIR) + "/packaging/screenshots/" + shot)) << shot;
    EXPECT_TRUE(fs::exists(root + "/usr/share/icons/hicolor/scalable/apps/org.quillmoor.Quillmoor.svg"));
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string png = root + "/usr/share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                                "/apps/org.quillmoor.Quillmoor.png";
        EXPECT_EQ(PngSize(png), std::make_pair(size, size)) << png;
    }
}

}  // namespace
}  // namespace qm::test
