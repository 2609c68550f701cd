// The desktop window on the offscreen platform, driven through the program core against
// nginx: Projects typed, pasted and dropped, started, renamed, moved and deleted; the map in
// both modes; find on both pages; the log and progress windows; the dialogs; the window
// state across a restart.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/download_run.h"
#include "app/session.h"
#include "app/window_state.h"
#include "engine/queue_manager.h"
#include "engine/site_map.h"
#include "store/options.h"
#include "store/ui_messages.h"
#include "support/peers.h"
#include "ui/add_keyword_dialog.h"
#include "ui/folder_prop_dialog.h"
#include "ui/main_form.h"

namespace fs = std::filesystem;
using namespace qm;
using qm::ui::MainWindow;

namespace {
QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::string MakeSite() {
    std::string site = qm::test::MakeTempDir("ui_site");
    qm::test::WriteFile(site + "/index.html",
                        "<html><body><a href=\"page2.html\">two</a> <img src=\"pic.gif\"></body></html>");
    qm::test::WriteFile(site + "/page2.html", "<html><body><a href=\"sub/needle.txt\">n</a></body></html>");
    qm::test::WriteFile(site + "/pic.gif", "GIF89a");
    qm::test::WriteFile(site + "/sub/needle.txt", "text");
    return site;
}

struct Window {
    bool appReady = (App(), true);  // the application exists before the window
    MainWindow form;
    std::vector<std::string> questions, notices;
    std::vector<bool> answers;  // answered in order; Yes when the script ran out

    bool Start(const std::string& home) {
        App();
        form.AskHook = [this](app::Question, const std::string& text) {
            questions.push_back(text);
            if (answers.empty()) return true;
            bool a = answers.front();
            answers.erase(answers.begin());
            return a;
        };
        form.NoticeHook = [this](const std::string& text) { notices.push_back(text); };
        app::CoreSettings s;
        s.home = home;
        s.singleInstance = false;
        s.startServer = false;
        std::string error;
        bool ok = form.Start(s, error) == MainWindow::Started::Yes;
        EXPECT_TRUE(ok) << error;
        store::Options().PathPrefix = home + "/dl/";
        form.show();
        return ok;
    }
    store::Project* Selected() { return form.SelectedNode().project; }
};

// A program folder of its own (HOME too), the test site on nginx, and the window on them.
struct WindowOnSite {
    explicit WindowOnSite(const std::string& tag)
        : home(qm::test::MakeTempDir(tag)), nginx((setenv("HOME", home.c_str(), 1), MakeSite())) {}
    bool Start() {
        EXPECT_TRUE(nginx.Ok()) << nginx.Error();
        return nginx.Ok() && w.Start(home);
    }
    std::string home;
    qm::test::NginxPeer nginx;
    Window w;
};

// Waits until the download is over with at least files of p stored.
bool DownloadEnds(MainWindow& f, const store::Project& p, int files) {
    const bool ended = QTest::qWaitFor([&] { return f.Core().Engine().Idle() && p.DoneCount >= files; }, 20000);
    EXPECT_TRUE(ended) << "done " << p.DoneCount;
    return ended;
}

bool HasHiddenNames(const viewmodels::MapNode& n) {
    for (auto& c : n.Children) {
        if (c->Placeholder) continue;
        if (viewmodels::DirTreeModel::Hidden(c->Caption) || HasHiddenNames(*c)) return true;
    }
    return false;
}
}  // namespace

TEST(MainWindow, DownloadMapFindLogAndTreeCommands) {
    WindowOnSite site("ui_window");
    ASSERT_TRUE(site.Start());
    const std::string& home = site.home;
    qm::test::NginxPeer& nginx = site.nginx;
    Window& w = site.w;
    MainWindow& f = w.form;
    store::Options().UseLog = true;
    store::Options().HTTPCount = 10;
    f.ProgressWindow()->Refresh();
    EXPECT_EQ(f.ProgressWindow()->List()->rowCount(), static_cast<int>(f.Core().Engine().Queue().PoolSize()));

    // A new Project typed without "http://" in the address bar and started at once.
    std::string url = nginx.Url("/index.html");
    f.AddressField()->setText(QString::fromStdString(url.substr(7)));
    f.LevelField()->setValue(3);
    QTest::keyClick(f.AddressField(), Qt::Key_Return);
    store::Project* p = w.Selected();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->URL, url);
    EXPECT_EQ(p->Lev, 3);
    ASSERT_TRUE(DownloadEnds(f, *p, 4));
    QTest::qWait(300);  // the windows refresh at their own pace
    EXPECT_GT(f.LogWindow()->List()->count(), 0);
    bool progressShown = false;
    for (int i = 0; i < f.ProgressWindow()->List()->rowCount(); ++i)
        if (!f.ProgressWindow()->List()->item(i, 0)->text().endsWith(": Empty")) progressShown = true;
    EXPECT_TRUE(progressShown);
    f.ProgressWindow()->CancelLine(9999);  // a line the pool does not have: nothing happens
    f.ProgressWindow()->CancelLine(0);

    // Log: find, find next, the limit.
    f.Log().Select(-1);
    ASSERT_TRUE(f.LogWindow()->FindText("HTTP"));
    int first = f.LogWindow()->List()->currentRow();
    EXPECT_TRUE(f.LogWindow()->FindNext());
    EXPECT_GT(f.LogWindow()->List()->currentRow(), first);
    store::Options().LogLimit = 3;
    for (int i = 0; i < 3; ++i) f.Log().Route(-1, "line", engine::MessageKind::Analysis);
    f.LogWindow()->Refresh();
    EXPECT_LT(f.LogWindow()->List()->count(), 3);
    store::Options().LogLimit = 5000;
    std::string logFile = home + "/saved.log";
    f.Log().Append("saved line");
    EXPECT_TRUE(f.LogWindow()->SaveTo(QString::fromStdString(logFile)));
    EXPECT_NE(qm::test::ReadFile(logFile).find("saved line\r\n"), std::string::npos);

    // The map in list mode: the Project's files, its start page selected, no stored copies.
    f.Core().State().SetInt("MapMode", 0);
    f.ShowMapPage();
    viewmodels::DirTreeModel& map = f.SiteMap()->Model();
    ASSERT_NE(map.First(), nullptr);
    EXPECT_EQ(map.First()->Caption, p->Caption);
    ASSERT_NE(f.SiteMap()->SelectedNode(), nullptr);
    EXPECT_EQ(f.SiteMap()->SelectedNode()->Caption, "index.html");
    EXPECT_FALSE(HasHiddenNames(*map.First()));
    EXPECT_TRUE(fs::exists(map.NodePath(*f.SiteMap()->SelectedNode()) + ".primary"));
    // The walk goes on from the selection without wrapping: folders come before files.
    EXPECT_FALSE(f.FindNext("NEEDLE", false));
    f.SiteMap()->setCurrentIndex({});
    ASSERT_TRUE(f.FindNext("NEEDLE", false));
    EXPECT_EQ(f.SiteMap()->SelectedNode()->Caption, "needle.txt");
    ASSERT_EQ(w.notices.size(), 1u);
    EXPECT_EQ(w.notices.back(), store::UIMessage(store::UIText::NoMatchingData));

    // Folder mode: every stored site, folders read as they open, found on disk when unread.
    f.Core().State().SetInt("MapMode", 1);
    f.UpdateMap();
    EXPECT_EQ(map.First()->Caption, "Web Sites");
    f.SiteMap()->setCurrentIndex({});
    ASSERT_TRUE(f.FindNext("needle", false));
    EXPECT_EQ(f.SiteMap()->SelectedNode()->Caption, "needle.txt");
    EXPECT_FALSE(HasHiddenNames(*map.First()));

    // Keyword picker: OK only for a selection that fits the kind.
    ui::KeywordPickerDialog picker(&f);
    picker.Prepare(viewmodels::KeywordKind::Server, store::Options().PathPrefix, &engine::GetMap(*p), p->Caption);
    viewmodels::DirTreeModel& pm = picker.Tree()->Model();
    ASSERT_FALSE(pm.First()->Children.empty());
    viewmodels::MapNode* hostNode = pm.First()->Children[0].get();
    picker.Tree()->SelectNode(hostNode);
    EXPECT_TRUE(picker.OkButton()->isEnabled());
    viewmodels::MapNode* file = pm.FindNode(map.NodePath(*f.SiteMap()->SelectedNode()));
    ASSERT_NE(file, nullptr);
    picker.Tree()->SelectNode(file);
    EXPECT_FALSE(picker.OkButton()->isEnabled());
    picker.Prepare(viewmodels::KeywordKind::FileName, store::Options().PathPrefix, &engine::GetMap(*p), p->Caption);
    picker.Tree()->SelectNode(picker.Tree()->Model().FindNode(map.NodePath(*f.SiteMap()->SelectedNode())));
    EXPECT_TRUE(picker.OkButton()->isEnabled());

    // Deleting from the map removes the file and its stored copy, after the question.
    f.SiteMap()->SelectNode(map.FindNode(map.NodePath(*f.SiteMap()->SelectedNode())));
    std::string needlePath = map.NodePath(*f.SiteMap()->SelectedNode());
    w.answers = {false};
    f.DeleteSelected();
    EXPECT_TRUE(fs::exists(needlePath));
    w.answers = {true};
    f.DeleteSelected();
    EXPECT_FALSE(fs::exists(needlePath));

    // Projects page: find, rename, paste with a line break, drop of addresses, moves.
    f.Pages()->setCurrentIndex(0);
    f.SelectNode({});
    ASSERT_TRUE(f.FindNext(QString::fromStdString(p->Caption.substr(7, 5)).toUpper(), false));
    EXPECT_EQ(w.Selected(), p);
    QTreeWidgetItem* item = f.Tree()->currentItem();
    ASSERT_NE(item, nullptr);
    item->setText(0, "Renamed Site");
    QTest::qWait(50);
    EXPECT_EQ(p->Caption, "Renamed Site");

    f.PasteText(QString::fromStdString(nginx.Url("/pa\r\nge2.html")));
    store::Project* pasted = w.Selected();
    ASSERT_NE(pasted, p);
    EXPECT_EQ(pasted->URL, nginx.Url("/page2.html"));

    QMimeData mime;
    mime.setUrls({QUrl(QString::fromStdString(nginx.Url("/sub/needle.txt")))});
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    f.dropEvent(&drop);
    store::Project* dropped = w.Selected();
    ASSERT_NE(dropped, pasted);
    EXPECT_EQ(dropped->URL, nginx.Url("/sub/needle.txt"));

    f.NewFolder();
    store::ProjectFolder* second = f.SelectedNode().folder;
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second, p->Folder);
    EXPECT_FALSE(f.DropNode({second, nullptr}, {p->Folder, p}));  // a folder onto a Project
    EXPECT_TRUE(f.DropNode({dropped->Folder, dropped}, {second, nullptr}));
    EXPECT_EQ(dropped->Folder, second);
    EXPECT_TRUE(f.DropNode({dropped->Folder, dropped}, {p->Folder, p}));
    EXPECT_EQ(dropped->Folder, p->Folder);
    EXPECT_EQ(p->Folder->Children.front().get(), dropped);  // just before the target
    EXPECT_EQ(f.Tree()->topLevelItem(0)->child(0)->text(0), QString::fromStdString(dropped->Caption));

    // Delete with both questions: No to the files keeps them.
    f.Core().Commands().ConfirmDelete = true;
    f.SelectNode({p->Folder, p});
    f.Core().State().SetInt("MapMode", 0);
    f.UpdateMap();  // the map holds the Project's site map while it is deleted
    w.questions.clear();
    w.answers = {true, false};
    f.DeleteSelected();
    ASSERT_EQ(w.questions.size(), 2u);
    EXPECT_EQ(w.questions[0], store::UIMessage(store::UIText::AskRemove) + "\r\n'Renamed Site' ?");
    EXPECT_EQ(w.questions[1], store::UIMessage(store::UIText::AskRemoveProjectFiles) + " ?");
    EXPECT_TRUE(fs::exists(needlePath.substr(0, needlePath.find("/sub/")) + "/index.html"));
    f.ShowMapPage();
    ASSERT_NE(map.First(), nullptr);
    EXPECT_NE(map.First()->Caption, "Renamed Site");
    f.Pages()->setCurrentIndex(0);
    // A folder that still has Projects, then the last folder, are refused.
    f.SelectNode({f.Core().GetSession().Tree().Folders[0].get(), nullptr});
    w.answers = {true};
    f.DeleteSelected();
    EXPECT_EQ(w.notices.back(), store::UIMessage(store::UIText::DeleteProjectsFirst));
    EXPECT_EQ(f.Tree()->topLevelItemCount(), 2);
}

TEST(MainWindow, FolderDialogRules) {
    App();
    store::Options().PathPrefix = "/tmp/";
    ui::FolderPropertiesDialog dlg;
    dlg.SetValues("Sites", "/tmp/");
    dlg.NameField()->clear();
    dlg.DirectoryField()->clear();
    dlg.accept();
    EXPECT_EQ(dlg.Caption(), "Sites");
    EXPECT_EQ(dlg.Directory(), "");
    dlg.SetValues("Sites", "");
    dlg.PickFolder("/tmp");
    EXPECT_EQ(dlg.DirectoryField()->text(), "/tmp/");
    dlg.NameField()->setText("Archive");
    dlg.accept();
    EXPECT_EQ(dlg.Caption(), "Archive");
    EXPECT_EQ(dlg.Directory(), "/tmp/");
}

TEST(MainWindow, StateSurvivesRestartAndExitAsks) {
    std::string home = qm::test::MakeTempDir("ui_restart");
    setenv("HOME", home.c_str(), 1);
    {
        Window w;
        ASSERT_TRUE(w.Start(home));
        w.form.PasteText("http://127.0.0.1:9/kept.html");
        // Browsing goes through the local server with the folder caption; a tool gets the
        // address as its one argument, and a tool that cannot start is reported.
        std::string address = w.form.BrowseTarget();
        EXPECT_EQ(address.rfind("http://127.0.0.1", 0), 0u) << address;
        EXPECT_NE(address.find("/Default/127.0.0.1"), std::string::npos) << address;
        w.form.BrowseWith("/bin/true");
        EXPECT_TRUE(w.notices.empty());
        w.form.BrowseWith(QString::fromStdString(home + "/no-such-tool"));
        ASSERT_EQ(w.notices.size(), 1u);
        EXPECT_EQ(w.notices.back(), store::UIMessage(store::UIText::ExternalToolFailed));
        // The queue written to a file and read back; a missing file is reported.
        EXPECT_TRUE(w.form.SuspendTo(QString::fromStdString(home + "/queue.que")));
        EXPECT_TRUE(fs::exists(home + "/queue.que"));
        EXPECT_TRUE(w.form.ResumeFrom(QString::fromStdString(home + "/queue.que")));
        EXPECT_FALSE(w.form.ResumeFrom(QString::fromStdString(home + "/missing.que")));
        w.form.setGeometry(60, 70, 777, 555);
        w.form.LogWindow()->hide();
        w.form.Core().State().SetBool("ConfirmExit", true);
        w.answers = {false};
        EXPECT_FALSE(w.form.close());  // No keeps the window
        EXPECT_EQ(w.questions.back(), store::UIMessage(store::UIText::AskQuit) + "?");
        w.answers = {true};
        EXPECT_TRUE(w.form.close());
    }
    Window again;
    ASSERT_TRUE(again.Start(home));
    QRect r = again.form.normalGeometry();
    EXPECT_EQ(r.width(), 777);
    EXPECT_EQ(r.height(), 555);
    EXPECT_TRUE(again.form.LogWindow()->isHidden());
    ASSERT_EQ(again.form.Tree()->topLevelItemCount(), 1);
    ASSERT_EQ(again.form.Tree()->topLevelItem(0)->childCount(), 1);
    EXPECT_EQ(again.form.Tree()->topLevelItem(0)->child(0)->text(0), "http://127.0.0.1:9/kept.html");
    again.answers = {true};
}

// "Export web archive..." on a recorded Project: the save dialog's choice gets a WACZ package
// and the status line says where; a place that cannot be written is reported, and a
// cancelled dialog writes nothing.
TEST(MainWindow, ExportWebArchiveFromTheWindow) {
    WindowOnSite site("ui_export");
    ASSERT_TRUE(site.Start());
    const std::string& home = site.home;
    Window& w = site.w;
    MainWindow& f = w.form;
    f.PasteText(QString::fromStdString(site.nginx.Url("/index.html")));
    store::Project* p = w.Selected();
    ASSERT_NE(p, nullptr);
    p->WebArchive = true;
    p->Lev = 2;
    f.StartSelected();
    ASSERT_TRUE(DownloadEnds(f, *p, 3));

    const std::string target = home + "/out/site";  // the extension is added
    fs::create_directories(home + "/out");
    QString suggested;
    f.ExecDialog = [&](QDialog& d) {
        auto* chooser = qobject_cast<QFileDialog*>(&d);
        EXPECT_NE(chooser, nullptr);
        if (!chooser) return static_cast<int>(QDialog::Rejected);
        suggested = chooser->selectedFiles().value(0);
        chooser->selectFile(QString::fromStdString(target));
        return static_cast<int>(QDialog::Accepted);
    };
    f.ExportWebArchive();
    EXPECT_TRUE(suggested.endsWith(".wacz")) << suggested.toStdString();
    ASSERT_TRUE(fs::exists(target + ".wacz"));
    EXPECT_EQ(qm::test::ReadFile(target + ".wacz").substr(0, 2), "PK");
    EXPECT_EQ(f.StatusPanel(0)->text().toStdString(), "Web archive exported to " + target + ".wacz");
    EXPECT_TRUE(w.notices.empty());

    f.ExecDialog = [&](QDialog& d) {
        static_cast<QFileDialog&>(d).selectFile(QString::fromStdString(home + "/no/such/folder/x.wacz"));
        return static_cast<int>(QDialog::Accepted);
    };
    f.ExportWebArchive();
    ASSERT_EQ(w.notices.size(), 1u);
    EXPECT_FALSE(fs::exists(home + "/no/such/folder/x.wacz"));

    fs::remove(target + ".wacz");
    f.ExecDialog = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    f.ExportWebArchive();
    EXPECT_FALSE(fs::exists(target + ".wacz"));
    EXPECT_EQ(w.notices.size(), 1u);
    w.answers = {true};
}
