// The Project properties and options dialogs on the offscreen platform: the edge cases of
// their controls, and the main window's OK and Cancel handling (only what the user edited
// goes back; a port change restarts the local web server once; settings survive a restart).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <sys/stat.h>

#include "app/download_run.h"
#include "app/session.h"
#include "engine/queue_manager.h"
#include "app/window_state.h"
#include "server/web_server.h"
#include "store/options.h"
#include "store/ui_messages.h"
#include "support/peers.h"
#include "ui/help_window.h"
#include "ui/main_form.h"
#include "ui/options_dialog.h"
#include "ui/project_prop_dialog.h"
#include "ui/site_check_dialog.h"

using namespace qm;
using qm::ui::ProgramOptionsDialog;
using qm::ui::ProjectPropertiesDialog;

namespace {
QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_dialogs_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

template <typename T>
T* Child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

void Click(QWidget& w, const char* name) {
    QPushButton* b = Child<QPushButton>(w, name);
    if (b) b->click();
}

void SetChecked(QWidget& w, const char* name) {
    if (auto* b = Child<QAbstractButton>(w, name)) b->setChecked(true);
}

QStringList Checklist(QListWidget* list, bool onlyChecked = false) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        if (!onlyChecked || list->item(i)->checkState() == Qt::Checked) out << list->item(i)->text();
    return out;
}

// The main window on a fresh program folder, without the local web server.
struct Window {
    bool appReady = (App(), true);
    ui::MainWindow form;
    explicit Window(const std::string& home, bool server = false) {
        form.AskHook = [](app::Question, const std::string&) { return true; };
        form.NoticeHook = [](const std::string&) {};
        app::CoreSettings s;
        s.home = home;
        s.singleInstance = false;
        s.startServer = server;
        std::string error;
        EXPECT_EQ(form.Start(s, error), ui::MainWindow::Started::Yes) << error;
    }
};
}  // namespace

TEST(ProjectProperties, ControlsFollowTheirRules) {
    App();
    store::Project p;
    p.URL = "http://";
    p.Caption = "http://";
    p.Lev = 3;
    p.FMGroup = 3;
    p.FM3Lev = 3;
    p.Categories[store::kCatImages].Exts = "gif\r\njpg\r\npng";  // no selection line
    p.Categories[store::kCatArchive].Exts = "zip";
    p.Categories[store::kCatVideo].Flag(store::CategoryFlag::Excluded) = true;  // excluded
    ProjectPropertiesDialog dlg;
    std::vector<QString> topics;
    dlg.OnHelp = [&](const QString& t) { topics.push_back(t); };
    dlg.SetProject(p, false);
    EXPECT_EQ(dlg.windowTitle(), "Project Properties");
    EXPECT_EQ(dlg.CurrentPage(), "Address");
    EXPECT_EQ(dlg.DescriptionText(), QString::fromStdString(store::UIMessage(store::UIText::HintProjectName)));

    // Typing an address fills the name until the name differs in its first seven characters.
    auto* url = Child<QLineEdit>(dlg, "edtURL");
    auto* name = Child<QLineEdit>(dlg, "edtName");
    QTest::keyClicks(url, "a.org");
    EXPECT_EQ(name->text(), "http://a.org");
    name->setText("My site");
    QTest::keyClicks(url, "/docs");
    EXPECT_EQ(name->text(), "My site");

    // A Level of 2 caps the skip level at 2; day 31 is stored as 30.
    auto* level = Child<QSpinBox>(dlg, "edtLevel");
    auto* skip = Child<QSpinBox>(dlg, "FM3Lev");
    EXPECT_TRUE(skip->isEnabled());
    level->setValue(2);
    EXPECT_EQ(skip->value(), 2);
    skip->setValue(9);
    EXPECT_EQ(skip->value(), 2);
    SetChecked(dlg, "rbFMGroup1");
    EXPECT_FALSE(skip->isEnabled());
    Child<QComboBox>(dlg, "cbWhen")->setCurrentIndex(3);  // monthly
    EXPECT_TRUE(Child<QSpinBox>(dlg, "edtDay")->isEnabled());
    EXPECT_FALSE(Child<QComboBox>(dlg, "cbWeekday")->isEnabled());
    Child<QSpinBox>(dlg, "edtDay")->setValue(31);
    Child<QComboBox>(dlg, "cbWhen")->setCurrentIndex(5);
    EXPECT_FALSE(Child<QLabel>(dlg, "lblTimeInterval")->isHidden());
    EXPECT_TRUE(Child<QLabel>(dlg, "lblTime")->isHidden());

    // Categories: the list without a selection line shows every extension checked.
    ASSERT_TRUE(dlg.SelectNode("Images"));
    EXPECT_EQ(dlg.CurrentPage(), "FileType");
    EXPECT_EQ(dlg.HeaderText(), "  File Types - Images");
    auto* exts = Child<QListWidget>(dlg, "lbExts");
    EXPECT_EQ(Checklist(exts, true), QStringList({"gif", "jpg", "png"}));
    exts->item(1)->setCheckState(Qt::Unchecked);
    Child<QLineEdit>(dlg, "edtExt")->setText(" webp ");
    Click(dlg, "btnAddExt");
    EXPECT_EQ(Checklist(exts), QStringList({"gif", "jpg", "png", "webp"}));
    // The size controls: check boxes only with "selected sizes", edits only when checked.
    auto* minCheck = Child<QCheckBox>(dlg, "chkMinSize");
    auto* minEdit = Child<QSpinBox>(dlg, "edtMinSize");
    EXPECT_FALSE(minCheck->isEnabled());
    SetChecked(dlg, "rbSizes1");
    EXPECT_TRUE(minCheck->isEnabled());
    EXPECT_FALSE(minEdit->isEnabled());
    minCheck->setChecked(true);
    EXPECT_TRUE(minEdit->isEnabled());
    minEdit->setValue(12);

    // The only extension removed leaves empty text; it goes back into the edit box.
    ASSERT_TRUE(dlg.SelectNode("Archive"));
    EXPECT_EQ(Checklist(exts), QStringList({"zip"}));
    exts->setCurrentRow(0);
    Click(dlg, "btnRemoveExt");
    EXPECT_EQ(exts->count(), 0);
    EXPECT_EQ(Child<QLineEdit>(dlg, "edtExt")->text(), "zip");

    // The category picture: an excluded category's groups are disabled; a click on the tick
    // or the space bar switches it.
    ASSERT_TRUE(dlg.SelectNode("Video"));
    auto* sizes = Child<QWidget>(dlg, "gbSizes");
    EXPECT_FALSE(sizes->isEnabled());
    QTreeWidget* tree = dlg.Navigation();
    dlg.show();
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_TRUE(sizes->isEnabled());
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_FALSE(sizes->isEnabled());
    ASSERT_TRUE(dlg.SelectNode("Other"));
    EXPECT_TRUE(Child<QWidget>(dlg, "gbTypes")->isHidden());
    QTreeWidgetItem* other = tree->currentItem();
    QRect box = tree->visualItemRect(other);
    QPoint tick(box.left() + 10, box.center().y());
    for (int x = box.left(); x < box.left() + 40 && other->checkState(0) == Qt::Checked; x += 3) {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(x, box.center().y()));
    }
    EXPECT_EQ(other->checkState(0), Qt::Unchecked);

    // Groups: the first child, or the empty page when coming up from a child.
    ASSERT_TRUE(dlg.SelectNode("Text"));
    ASSERT_TRUE(dlg.SelectNode("File Types"));
    EXPECT_EQ(dlg.CurrentPage(), "empty");
    dlg.ShowHelp();
    EXPECT_TRUE(topics.empty());  // the empty page has no topic
    ASSERT_TRUE(dlg.SelectNode("Passwords"));
    ASSERT_TRUE(dlg.SelectNode("URL Filters"));
    EXPECT_EQ(dlg.CurrentPage(), "newr");
    Click(dlg, "btnHelp");
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics.back(), "PropFilters");
    QTest::mouseClick(Child<QLabel>(dlg, "pnlCaption"), Qt::LeftButton);
    EXPECT_EQ(topics.size(), 2u);

    // Keywords: the keyword group only for the custom choice; the lists with their ticks.
    auto* group = Child<QWidget>(dlg, "gbKeywordsSrvs");
    EXPECT_FALSE(group->isEnabled());
    SetChecked(dlg, "rbSrvsBx2");
    EXPECT_TRUE(group->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(dlg, "btnPickSrvs")->isHidden());  // no picker given
    Child<QLineEdit>(dlg, "edtKeywordSrvs")->setText("ads");
    Click(dlg, "btnAddSrvs");
    EXPECT_EQ(Child<QLineEdit>(dlg, "edtKeywordSrvs")->text(), "");
    Child<QComboBox>(dlg, "cbViewSrvs")->setCurrentIndex(1);
    Child<QLineEdit>(dlg, "edtKeywordSrvs")->setText("docs");
    Click(dlg, "btnAddSrvs");
    Child<QListWidget>(dlg, "lbKeywordsSrvs")->item(0)->setCheckState(Qt::Unchecked);
    Child<QComboBox>(dlg, "cbViewSrvs")->setCurrentIndex(0);
    EXPECT_EQ(Checklist(Child<QListWidget>(dlg, "lbKeywordsSrvs")), QStringList({"ads"}));

    SetChecked(dlg, "rbpswMethod1");
    EXPECT_FALSE(Child<QLineEdit>(dlg, "edtUser")->isEnabled());

    dlg.accept();
    const store::Project& s = dlg.Settings();
    EXPECT_EQ(s.URL, "http://a.org/docs");
    EXPECT_EQ(s.Caption, "My site");
    EXPECT_EQ(s.Lev, 2);
    EXPECT_EQ(s.FMGroup, 1);
    EXPECT_EQ(s.FM3Lev, 2);
    EXPECT_EQ(s.When, 5);
    EXPECT_EQ(s.Day, 30);
    EXPECT_EQ(s.Categories[store::kCatImages].Exts, "gif\r\njpg\r\npng\r\nwebp\r\n xoxx");
    EXPECT_TRUE(s.Categories[store::kCatImages].Flag(store::CategoryFlag::SelectedSizesOnly) &&
                s.Categories[store::kCatImages].Flag(store::CategoryFlag::MinSizeOn));
    EXPECT_EQ(s.Categories[store::kCatImages].MinSize, 12);
    EXPECT_EQ(s.Categories[store::kCatArchive].Exts, "");
    EXPECT_TRUE(s.Categories[store::kCatVideo].Flag(store::CategoryFlag::Excluded));
    EXPECT_TRUE(s.Categories[store::kCatOther].Flag(store::CategoryFlag::Excluded));
    EXPECT_EQ(s.RSrvsBx, 2);
    EXPECT_EQ(s.RSrvsEx, "ads\r\n x");
    EXPECT_EQ(s.RSrvsIn, "docs\r\n o");
    EXPECT_EQ(s.pswMethod, 1);
    name->clear();
    dlg.accept();
    EXPECT_EQ(dlg.Settings().Caption, "http://a.org/docs");  // an empty name shows the address

    // An empty Day is the 1st; the Defaults Project has no name field.
    ProjectPropertiesDialog defaults;
    defaults.SetProject(p, true);
    EXPECT_EQ(defaults.windowTitle(),
              QString::fromStdString(store::UIMessage(store::UIText::DefaultProjectProperties)));
    EXPECT_TRUE(Child<QLineEdit>(defaults, "edtName")->isHidden());
    Child<QSpinBox>(defaults, "edtDay")->findChild<QLineEdit*>()->setText("");
    QTest::keyClicks(Child<QLineEdit>(defaults, "edtURL"), "x.org");
    defaults.accept();
    EXPECT_EQ(defaults.Settings().Day, 0);
    EXPECT_EQ(defaults.Settings().Caption, "http://");
}

TEST(ProjectProperties, MainWindowHandsBackOnlyEdits) {
    std::string home = qm::test::MakeTempDir("ui_dialogs_prop");
    setenv("HOME", home.c_str(), 1);
    Window w(home);
    ui::MainWindow& f = w.form;
    f.PasteText("http://127.0.0.1:9/site/");
    store::Project* p = f.SelectedNode().project;
    ASSERT_NE(p, nullptr);
    p->RSrvsEx = "ads\r\n x";
    p->When = 1;
    p->Once = true;

    // Cancel after editing the keyword lists leaves the Project as it was.
    f.ExecDialog = [](QDialog& d) {
        SetChecked(d, "rbSrvsBx2");
        Child<QLineEdit>(d, "edtKeywordSrvs")->setText("track");
        Click(d, "btnAddSrvs");
        Child<QListWidget>(d, "lbKeywordsSrvs")->item(0)->setCheckState(Qt::Unchecked);
        return static_cast<int>(QDialog::Rejected);
    };
    f.FolderProperties();
    EXPECT_EQ(p->RSrvsEx, "ads\r\n x");
    EXPECT_EQ(p->RSrvsBx, 1);  // as pasted: a new Project keeps to its starting server

    // OK while the scheduler switches the "Once" schedule to manual and the engine counts:
    // the user's edits go back, the rest stays as the scheduler and the engine left it.
    f.ExecDialog = [p](QDialog& d) {
        p->When = 0;
        p->S200 = 5;
        p->LastStart = 4242.0;
        auto* dlg = static_cast<ProjectPropertiesDialog*>(&d);
        dlg->SelectNode("Project");
        Child<QLineEdit>(d, "edtName")->setText("Renamed");
        Child<QSpinBox>(d, "edtLevel")->setValue(4);
        // The picker is offered for the selected Project.
        EXPECT_FALSE(Child<QPushButton>(d, "btnPickSrvs")->isHidden());
        d.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    f.FolderProperties();
    EXPECT_EQ(p->Caption, "Renamed");
    EXPECT_EQ(p->Lev, 4);
    EXPECT_EQ(p->When, 0);
    EXPECT_TRUE(p->Once);
    EXPECT_EQ(p->S200, 5);
    EXPECT_EQ(p->LastStart, 4242.0);
    EXPECT_EQ(f.Tree()->topLevelItem(0)->child(0)->text(0), "Renamed");
    EXPECT_FALSE(p->RenderPages);

    // "Render pages with a browser" is shown as stored and goes back when ticked; left alone
    // it stays as the Project has it meanwhile.
    f.ExecDialog = [](QDialog& d) {
        auto* dlg = static_cast<ProjectPropertiesDialog*>(&d);
        EXPECT_TRUE(dlg->SelectNode("Advanced"));
        auto* render = Child<QCheckBox>(d, "chkRenderPages");
        EXPECT_EQ(render->text(), "Render pages with a browser");
        EXPECT_FALSE(render->isChecked());
        render->setChecked(true);
        d.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    f.FolderProperties();
    EXPECT_TRUE(p->RenderPages);
    f.ExecDialog = [p](QDialog& d) {
        EXPECT_TRUE(Child<QCheckBox>(d, "chkRenderPages")->isChecked());
        p->RenderPages = false;
        d.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    f.FolderProperties();
    EXPECT_FALSE(p->RenderPages);

    // The Defaults Project: the level goes to the address bar.
    f.ExecDialog = [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), QString::fromStdString(store::UIMessage(store::UIText::DefaultProjectProperties)));
        Child<QSpinBox>(d, "edtLevel")->setValue(6);
        d.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    f.DefaultProperties();
    EXPECT_EQ(f.Core().GetSession().Defaults().Lev, 6);
    EXPECT_EQ(f.LevelField()->value(), 6);

    // A new Project from the dialog: the Defaults' settings and the address typed.
    f.ExecDialog = [](QDialog& d) {
        EXPECT_EQ(Child<QLineEdit>(d, "edtName")->text(), "http://");
        QTest::keyClicks(Child<QLineEdit>(d, "edtURL"), "new.example");
        d.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    f.NewProjectDialog();
    store::Project* added = f.SelectedNode().project;
    ASSERT_NE(added, nullptr);
    ASSERT_NE(added, p);
    EXPECT_EQ(added->URL, "http://new.example");
    EXPECT_EQ(added->Caption, "http://new.example");
    EXPECT_EQ(added->Lev, 6);
}

TEST(Options, PagesRulesAndAutoDetect) {
    App();
    ProgramOptionsDialog dlg;
    std::vector<QString> topics;
    dlg.OnHelp = [&](const QString& t) { topics.push_back(t); };
    store::ProgramOptions o;
    o.Reset();
    o.UAgent = "";
    app::WindowState st;
    st.SetText("Browsers", "Kept=/nowhere/browserx\r\n");
    dlg.SetForm(viewmodels::FillOptionsForm(o, st));
    EXPECT_EQ(dlg.CurrentPage(), "Connection");
    EXPECT_EQ(dlg.DescriptionText(), QString::fromStdString(store::UIMessage(store::UIText::HintConnection)));
    EXPECT_EQ(Child<QLineEdit>(dlg, "edtTimeOut")->text(), "300");
    EXPECT_TRUE(Child<QRadioButton>(dlg, "rbAgentList")->isChecked());
    EXPECT_EQ(Child<QComboBox>(dlg, "cbAgent")->currentText(), "Anonymous");
    Click(dlg, "btnHelp");
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], "InternetConnection");
    ASSERT_TRUE(dlg.SelectCategory("Tools"));
    EXPECT_EQ(dlg.CurrentPage(), "Nil");

    // Fields that are not numbers or out of range show the value they will keep.
    auto* port = Child<QLineEdit>(dlg, "edtHTTPPort");
    port->setText("99999");
    emit port->editingFinished();
    EXPECT_EQ(port->text(), "65535");
    auto* timeOut = Child<QLineEdit>(dlg, "edtTimeOut");
    timeOut->setText("abc");
    emit timeOut->editingFinished();
    EXPECT_EQ(timeOut->text(), "300");

    // The free space of the download folder's disk.
    Child<QLineEdit>(dlg, "edtPathPrefix")->setText("/");
    EXPECT_TRUE(Child<QLabel>(dlg, "lblFreeSpace")
                    ->text()
                    .endsWith(QString::fromStdString(store::UIMessage(store::UIText::MegabytesFree))));

    // Tools: add, tick, remove; Auto Detect twice adds the fake browser once.
    std::string dir = qm::test::MakeTempDir("ui_dialogs_detect");
    std::string bin = dir + "/bin";
    qm::test::WriteFile(bin + "/falkon", "#!/bin/sh\nexit 0\n");
    ::chmod((bin + "/falkon").c_str(), 0755);
    qm::test::WriteFile(dir + "/apps/falkon.desktop",
                        "[Desktop Entry]\nType=Application\nName=Falkon\nExec=falkon %u\nCategories=WebBrowser;\n");
    dlg.DetectSources.pathDirs = {bin};
    dlg.DetectSources.desktopDirs = {dir + "/apps"};
    ASSERT_TRUE(dlg.SelectCategory("Browsers"));
    EXPECT_EQ(dlg.CurrentPage(), "Tools");
    EXPECT_EQ(Child<QLabel>(dlg, "lblToolList")->text(),
              QString::fromStdString(store::UIMessage(store::UIText::HintBrowsers)));
    auto* tools = Child<QListWidget>(dlg, "lbTools");
    EXPECT_EQ(Checklist(tools, true), QStringList({"Kept"}));
    Click(dlg, "btnAutoDetect");
    Click(dlg, "btnAutoDetect");
    EXPECT_EQ(Checklist(tools), QStringList({"Kept", "Falkon"}));
    tools->item(0)->setCheckState(Qt::Unchecked);
    ASSERT_TRUE(dlg.SelectCategory("Editors"));
    EXPECT_TRUE(Child<QPushButton>(dlg, "btnAutoDetect")->isHidden());
    Child<QLineEdit>(dlg, "edtToolCaption")->setText("Vi");
    Child<QLineEdit>(dlg, "edtToolFile")->setText("/usr/bin/vi");
    Click(dlg, "btnToolAdd");
    EXPECT_EQ(Child<QLineEdit>(dlg, "edtToolFile")->text(), "");
    SetChecked(dlg, "rbAgentText");
    Child<QLineEdit>(dlg, "edtAgent")->setText("Crawler/9");

    // The transfer options have a page of their own; its strip shows the category.
    ASSERT_TRUE(dlg.SelectCategory("Transfers"));
    EXPECT_EQ(dlg.CurrentPage(), "Transfers");
    EXPECT_EQ(dlg.DescriptionText(), "Transfers");
    Click(dlg, "btnHelp");
    EXPECT_EQ(topics.back(), "OptionsTransfers");
    EXPECT_TRUE(Child<QCheckBox>(dlg, "chkKeepAlive")->isChecked());
    auto* pause = Child<QLineEdit>(dlg, "edtPause");
    pause->setText("86400");
    emit pause->editingFinished();
    EXPECT_EQ(pause->text(), "3600");

    viewmodels::OptionsApplied applied = viewmodels::ApplyOptionsForm(dlg.Form(), o, st);
    EXPECT_TRUE(applied.portChanged);
    EXPECT_EQ(o.HTTPPort, 65535);
    EXPECT_EQ(o.TimeOut, 300000);
    EXPECT_EQ(o.PathPrefix, "/");
    EXPECT_EQ(o.UAgent, "Crawler/9");
    EXPECT_EQ(st.Text("Browsers"), "Kept=/nowhere/browsero\r\nFalkon=" + bin + "/falkonx\r\n");
    EXPECT_EQ(st.Text("Editors"), "Vi=/usr/bin/vix\r\n");
    EXPECT_EQ(o.Pause, 3600);
}

TEST(Options, PortChangeRestartsTheServerOnceAndOptionsSurviveRestart) {
    std::string home = qm::test::MakeTempDir("ui_dialogs_options");
    setenv("HOME", home.c_str(), 1);
    int port = qm::test::FreePort();
    {
        Window w(home, true);
        int restarts = 0;
        w.form.Core().RestartServer = [&] {
            ++restarts;
            StartServer();
        };
        // OK without changes: no restart.
        w.form.ExecDialog = [](QDialog& d) {
            d.accept();
            return static_cast<int>(QDialog::Accepted);
        };
        w.form.OptionsDialog();
        EXPECT_EQ(restarts, 0);
        w.form.ExecDialog = [port](QDialog& d) {
            Child<QLineEdit>(d, "edtHTTPPort")->setText(QString::number(port));
            Child<QLineEdit>(d, "edtTimeOut")->setText("abc");
            Child<QComboBox>(d, "cbAgent")->setCurrentIndex(6);
            SetChecked(d, "rbMapMode1");
            Child<QLineEdit>(d, "edtHTTPCount")->setText("3");
            Child<QCheckBox>(d, "chkKeepAlive")->setChecked(false);
            Child<QCheckBox>(d, "chkFtpPassive")->setChecked(true);
            Child<QCheckBox>(d, "chkSSLAnyCert")->setChecked(true);
            Child<QCheckBox>(d, "chkExtLast")->setChecked(true);
            Child<QCheckBox>(d, "chkLowMemory")->setChecked(false);
            Child<QLineEdit>(d, "edtPause")->setText("2");
            Child<QComboBox>(d, "cbPriority")->setCurrentIndex(2);
            Child<QLineEdit>(d, "edtBookmarksFile")->setText("/srv/bookmarks.html");
            d.accept();
            return static_cast<int>(QDialog::Accepted);
        };
        w.form.OptionsDialog();
        EXPECT_EQ(restarts, 1);
        EXPECT_TRUE(qm::test::WaitForPort(port, 3000));
        EXPECT_EQ(ServerPort(), port);
        EXPECT_EQ(w.form.Core().Engine().Queue().PoolSize(), 3u);  // the pool follows at once
        // Cancel changes nothing.
        w.form.ExecDialog = [](QDialog& d) {
            Child<QLineEdit>(d, "edtHTTPPort")->setText("1234");
            Child<QCheckBox>(d, "chkKeepAlive")->setChecked(true);
            Child<QCheckBox>(d, "chkExtLast")->setChecked(false);
            Child<QLineEdit>(d, "edtBookmarksFile")->setText("/elsewhere.html");
            return static_cast<int>(QDialog::Rejected);
        };
        w.form.OptionsDialog();
        EXPECT_EQ(restarts, 1);
        EXPECT_EQ(store::Options().HTTPPort, port);
        EXPECT_FALSE(store::Options().KeepAlive);
        EXPECT_TRUE(store::Options().ExtLast);
        EXPECT_EQ(store::Options().BookmarksFile, "/srv/bookmarks.html");
        EXPECT_TRUE(w.form.close());
    }
    store::Options().Reset();
    Window again(home);
    EXPECT_EQ(store::Options().HTTPPort, port);
    EXPECT_EQ(store::Options().TimeOut, 300000);
    EXPECT_EQ(store::Options().UAgent, "");
    EXPECT_EQ(again.form.Core().State().Int("MapMode"), 1);
    // The transfer options come back from the registry.
    EXPECT_FALSE(store::Options().KeepAlive);
    EXPECT_TRUE(store::Options().FtpPassive && store::Options().SSLAnyCert && store::Options().ExtLast);
    EXPECT_FALSE(store::Options().LowMemory);
    EXPECT_EQ(store::Options().Pause, 2);
    EXPECT_EQ(store::Options().Priority, 3);
    EXPECT_EQ(store::Options().BookmarksFile, "/srv/bookmarks.html");
    again.form.ExecDialog = [](QDialog& d) {
        EXPECT_EQ(Child<QComboBox>(d, "cbAgent")->currentText(), "Anonymous");
        EXPECT_TRUE(Child<QRadioButton>(d, "rbAgentList")->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(d, "chkKeepAlive")->isChecked());
        EXPECT_EQ(Child<QComboBox>(d, "cbPriority")->currentText(), "Normal");
        EXPECT_EQ(Child<QLineEdit>(d, "edtBookmarksFile")->text(), "/srv/bookmarks.html");
        return static_cast<int>(QDialog::Rejected);
    };
    again.form.OptionsDialog();
    StopServer();
    store::Options().Reset();
}

// Language files address the texts of a window by component names: every label, button and
// group of both dialogs has one of its own.
TEST(Dialogs, EveryTextHasItsOwnComponentName) {
    App();
    ProjectPropertiesDialog prop;
    ProgramOptionsDialog options;
    for (QWidget* dlg : {static_cast<QWidget*>(&prop), static_cast<QWidget*>(&options)}) {
        QStringList names;
        for (QWidget* w : dlg->findChildren<QWidget*>()) {
            auto* label = qobject_cast<QLabel*>(w);
            bool hasText = (label && !label->text().isEmpty()) || qobject_cast<QAbstractButton*>(w) ||
                           qobject_cast<QGroupBox*>(w) || qobject_cast<QComboBox*>(w);
            if (!hasText) continue;
            EXPECT_FALSE(w->objectName().isEmpty())
                << dlg->objectName().toStdString() << ": " << (label ? label->text().toStdString() : "");
            // The language file finds components by name in any case.
            EXPECT_FALSE(names.contains(w->objectName(), Qt::CaseInsensitive)) << w->objectName().toStdString();
            names << w->objectName();
        }
        EXPECT_GT(names.size(), 40);
    }
}

TEST(Help, EveryTopicHasAPage) {
    App();
    for (const char* topic :
         {"PropProject", "PropFT", "PropFilters", "PropAdv", "PropSchedule", "PropPassword", "InternetConnection",
          "ProxyServer", "OptionsDirectory", "OptionsDiskSpace", "OptionsAdvanced", "OptionsTransfers", "ToolsList"})
        EXPECT_FALSE(ui::HelpPagePath(topic).isEmpty()) << topic;
    EXPECT_TRUE(ui::HelpPagePath("NoSuchTopic").isEmpty());
    QWidget parent;
    ASSERT_TRUE(ui::ShowHelpTopic(&parent, "PropSchedule"));
    auto* window = parent.findChild<QTextBrowser*>("HelpWindow");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->documentTitle(), "Scheduling");
    EXPECT_TRUE(window->toPlainText().contains("Only once"));
}

TEST(PasswordQuestion, TheWindowAsksAndHandsTheAnswerToTheEngine) {
    const std::string home = test::MakeTempDir("ui-password");
    Window w(home);
    engine::QueueManager& q = w.form.Core().Engine().Queue();
    ASSERT_TRUE(q.OnPasswordWanted);
    store::Project project;
    project.Caption = "Intranet";
    project.User = "alice";

    // The server's texts are shown as text; the Project's user name is offered.
    QString shown;
    w.form.ExecDialog = [&shown](QDialog& d) {
        shown = Child<QLabel>(d, "lblQuestion")->text();
        EXPECT_EQ(Child<QLabel>(d, "lblQuestion")->textFormat(), Qt::PlainText);
        EXPECT_EQ(Child<QLineEdit>(d, "edtUser")->text(), "alice");
        EXPECT_EQ(Child<QLineEdit>(d, "edtPsw")->echoMode(), QLineEdit::Password);
        Child<QLineEdit>(d, "edtPsw")->setText("s3cret");
        return static_cast<int>(QDialog::Accepted);
    };
    std::string user, password;
    EXPECT_TRUE(q.OnPasswordWanted(q, project, "http://127.0.0.1:9/private/", "<b>Staff</b>\r\nonly", user, password));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "s3cret");
    EXPECT_TRUE(shown.contains("Intranet"));
    EXPECT_TRUE(shown.contains("http://127.0.0.1:9/private/"));
    EXPECT_TRUE(shown.contains("(<b>Staff</b>  only)"));  // on one line

    // Cancel skips the page.
    w.form.ExecDialog = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    EXPECT_FALSE(q.OnPasswordWanted(q, project, "http://127.0.0.1:9/private/", "", user, password));
}

TEST(SiteCheck, DoubleClickOpensThePropertiesAtTheRulesPage) {
    std::string home = qm::test::MakeTempDir("ui_site_check");
    setenv("HOME", home.c_str(), 1);
    Window w(home);
    ui::MainWindow& f = w.form;
    f.PasteText("http://127.0.0.1:9/never/");
    ASSERT_NE(f.SelectedNode().project, nullptr);
    std::vector<std::string> shown;
    f.ExecDialog = [&shown](QDialog& d) {
        if (auto* check = dynamic_cast<ui::SiteCheckDialog*>(&d)) {
            // Never started: the start page is the one link without a file.
            QTreeWidget* list = check->List();
            EXPECT_EQ(list->topLevelItemCount(), 1);
            QTreeWidgetItem* group = list->topLevelItem(0);
            shown.push_back(group->text(0).toStdString());
            EXPECT_EQ(group->childCount(), 1);
            if (group->childCount() == 1) {
                shown.push_back(group->child(0)->text(0).toStdString());
                emit list->itemDoubleClicked(group->child(0), 0);
            }
            shown.push_back(check->SummaryText().toStdString());
            return static_cast<int>(QDialog::Rejected);
        }
        auto* props = dynamic_cast<ProjectPropertiesDialog*>(&d);
        EXPECT_NE(props, nullptr);
        if (props) shown.push_back("properties at " + props->CurrentPage().toStdString());
        return static_cast<int>(QDialog::Rejected);
    };
    f.CheckStoredSite();
    EXPECT_EQ(shown, (std::vector<std::string>{"never reached: the run was stopped or reached a limit (1)",
                                               "http://127.0.0.1:9/never/", "properties at Limits",
                                               "0 pages read, 1 links, 1 broken"}));
}
