// Finding browsers in a fake PATH, fake .desktop folders, an imported registry file and a
// folder of browser settings files, all inside the test's own folder. The only programs run
// are small scripts written here (a fake xdg-settings); no browser is ever started.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCoreApplication>
#include <filesystem>

#include "desktop/browser_detect.h"
#include "platform/registry.h"
#include "support/peers.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::desktop;

namespace {
// A file that looks like a program; made executable but never run.
std::string FakeProgram(const std::string& path, const std::string& script = "#!/bin/sh\nexit 0\n") {
    EXPECT_TRUE(qm::test::WriteFile(path, script));
    ::chmod(path.c_str(), 0755);
    return path;
}

std::string Desktop(const std::string& name, const std::string& exec, const std::string& categories) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nName[de]=Lokal\nExec=" + exec +
           "\nCategories=" + categories + "\n[Desktop Action new]\nExec=other\n";
}
}  // namespace

TEST(BrowserDetection, PathDesktopEntriesRegistryAndSettingsFiles) {
    std::string dir = qm::test::MakeTempDir("browser_detect");
    std::string bin = dir + "/bin", apps = dir + "/apps", win = dir + "/win";
    std::string firefox = FakeProgram(bin + "/firefox");
    std::string falkon = FakeProgram(bin + "/falkon");
    FakeProgram(bin + "/gedit");
    qm::test::WriteFile(bin + "/chromium", "not executable");
    fs::create_symlink(firefox, bin + "/firefox-esr");  // the same program under a second name
    qm::test::WriteFile(apps + "/org.kde.falkon.desktop",
                        Desktop("Falkon Browser", "falkon %u", "Network;WebBrowser;"));
    qm::test::WriteFile(apps + "/ff.desktop", Desktop("Firefox Web", "env MOZ_X=1 firefox %u", "Network;WebBrowser;"));
    qm::test::WriteFile(apps + "/ghost.desktop", Desktop("Ghost", "ghost-browser %u", "WebBrowser;"));
    qm::test::WriteFile(apps + "/gedit.desktop", Desktop("Text Editor", "gedit %U", "Utility;TextEditor;"));
    std::string quoted = FakeProgram(dir + "/opt/My Browser/run");
    qm::test::WriteFile(apps + "/quoted.desktop", Desktop("Quoted", "\"" + quoted + "\" --new %u", "WebBrowser"));

    // Registry entries of older browsers, as an imported registry file holds them.
    std::string ie = FakeProgram(dir + "/ie/iexplore.exe");
    std::string netscape = FakeProgram(dir + "/ns47/Program/netscape.exe");
    platform::Registry reg;
    std::string error;
    ASSERT_TRUE(reg.ImportText(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{FBF23B42-E3F0-101B-8488-00AA003E56F8}\\DefaultIcon]\r\n"
        "@=\" " +
            ie +
            " ,1\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Netscape\\Netscape Navigator\\4.7\\Main]\r\n"
            "\"Install Directory\"=\"" +
            dir +
            "/ns47\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Netscape\\Netscape Navigator\\4.5\\Main]\r\n"
            "\"Install Directory\"=\"" +
            dir +
            "/ns45\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Netscape\\Netscape Navigator\\Main]\r\n"
            "\"Install Directory\"=\"relative/ns\"\r\n",
        error))
        << error;
    std::string opera = FakeProgram(dir + "/opera/opera.exe");
    qm::test::WriteFile(win + "/opera.ini",
                        "[Other]\r\nOpera Directory=/nowhere\r\n[User Prefs]\r\nOpera Directory=" + dir + "/opera\r\n");
    std::string mosaic = FakeProgram(dir + "/mosaic/bin/airmosd.exe");
    qm::test::WriteFile(win + "/airmos.ini", "[Hotlists]\r\nHotlist 0=" + dir + "/mosaic/data\\hotlist.htm\r\n");

    desktop::BrowserSources src;
    src.pathDirs = {dir + "/empty", bin};
    src.desktopDirs = {apps, dir + "/missing"};
    src.registry = &reg;
    src.windowsDir = win;

    std::vector<desktop::ToolEntry> list = {{"Mine", falkon, false}};  // already listed: kept, not doubled
    EXPECT_EQ(desktop::DetectBrowsers(list, src), 6);
    std::vector<std::string> found;
    for (const desktop::ToolEntry& e : list) found.push_back(e.caption + "=" + e.program + (e.ticked ? "x" : "o"));
    std::vector<std::string> expected = {
        "Mine=" + falkon + "o",
        "MS Internet Explorer=" + ie + "x",
        "Netscape Communicator 4.7=" + netscape + "x",
        "Spry Mosaic=" + mosaic + "x",
        "Opera=" + opera + "x",
        "Firefox=" + firefox + "x",
        "Quoted=" + quoted + "x",
    };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(desktop::DetectBrowsers(list, src), 0);  // a second run adds nothing
    EXPECT_EQ(list.size(), expected.size());

    // No sources, no browsers; a long settings folder name is not read.
    std::vector<desktop::ToolEntry> none;
    desktop::BrowserSources empty;
    empty.windowsDir = std::string(1000, 'w');
    EXPECT_EQ(desktop::DetectBrowsers(none, empty), 0);
}

TEST(BrowserDetection, DesktopAndIniTextsAreReadWithinBounds) {
    desktop::DesktopEntry e =
        desktop::ParseDesktopEntry("[Other]\nExec=no\n[Desktop Entry]\nExec=\"/a b/c\\\"d\" %u\nHidden=true\n");
    EXPECT_EQ(e.exec, "/a b/c\"d");
    EXPECT_TRUE(e.hidden);
    EXPECT_FALSE(e.application);
    e = desktop::ParseDesktopEntry("[Desktop Entry]\nExec=\"unterminated\nCategories=X;WebBrowserish;\n");
    EXPECT_EQ(e.exec, "unterminated");
    EXPECT_FALSE(e.webBrowser);
    EXPECT_EQ(desktop::ParseDesktopEntry("[Desktop Entry]\nExec=env A=1 B=2\n").exec, "");
    EXPECT_EQ(desktop::IniValue("[a]\nk=1\n[ B ]\n K = two \n", "b", "k"), "two");
    EXPECT_EQ(desktop::IniValue("[b\nk=1\n", "b", "k"), "");
    std::string big(70 * 1024, 'x');
    EXPECT_EQ(desktop::IniValue(big + "\n[s]\nk=v\n", "s", "k"), "");  // beyond the first 64 KiB
}

TEST(DefaultBrowser, DesktopSettingThenXdgOpenThenRegistry) {
    static int argc = 1;
    static char name[] = "browser_detect_test";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::string dir = qm::test::MakeTempDir("default_browser");
    std::string bin = dir + "/bin", apps = dir + "/apps";
    std::string browser = FakeProgram(bin + "/webview");
    FakeProgram(bin + "/xdg-settings",
                "#!/bin/sh\n[ \"$1 $2\" = \"get default-web-browser\" ] && echo webview.desktop\n");
    qm::test::WriteFile(apps + "/webview.desktop", Desktop("Web View", "webview %u", "WebBrowser;"));
    desktop::BrowserSources src;
    src.pathDirs = {bin};
    src.desktopDirs = {apps};
    EXPECT_EQ(desktop::DefaultBrowserProgram(src), browser);

    // Without the desktop entry, xdg-open; without either, nothing.
    fs::remove(apps + "/webview.desktop");
    EXPECT_EQ(desktop::DefaultBrowserProgram(src), "");
    std::string open = FakeProgram(bin + "/xdg-open");
    EXPECT_EQ(desktop::DefaultBrowserProgram(src), open);
    // An answer that is not a plain file name is not looked up.
    FakeProgram(bin + "/xdg-settings", "#!/bin/sh\necho ../../bin/webview\n");
    EXPECT_EQ(desktop::DefaultBrowserProgram(src), open);

    platform::Registry reg;
    EXPECT_EQ(desktop::RegistryBrowserCommand(reg), "");
    std::string error;
    ASSERT_TRUE(
        reg.ImportText("Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.htm]\r\n@=\"\"\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.html]\r\n@=\"htmlfile\"\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Classes\\htmlfile\\shell\\open\\command]\r\n"
                       "@=\"\\\"C:\\\\Program Files\\\\Web\\\\web.exe\\\" \\\"%1\\\"\"\r\n",
                       error))
        << error;
    EXPECT_EQ(desktop::RegistryBrowserCommand(reg), "\"C:\\Program Files\\Web\\web.exe\" \"\"");
    src.registry = &reg;
    EXPECT_EQ(desktop::DefaultBrowserProgram(src), open);  // that program does not exist here
    std::string web = FakeProgram(dir + "/Web Apps/web.exe");
    ASSERT_TRUE(
        reg.ImportText("Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Classes\\.htm\\shell\\open\\command]\r\n"
                       "@=\"\\\"" +
                           web + "\\\" -url \\\"%1\\\"\"\r\n",
                       error))
        << error;
    EXPECT_EQ(desktop::DefaultBrowserProgram(src), web);
}
