// The language file on the real windows (offscreen): the template the program writes is the
// one shipped in lang/, the German translation in the program folder changes every window
// and the message list, texts stay plain text; the bookmarks menu is built on the main
// thread from what the import thread read, with its overflow levels, and a chosen bookmark
// becomes a Project. Screenshots of both go to the build folder's screenshots/.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTreeWidget>
#include <QComboBox>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <cstdlib>
#include <filesystem>

#include "viewmodels/options_form.h"
#include "app/session.h"
#include "app/window_state.h"
#include "store/options.h"
#include "store/ui_messages.h"
#include "support/peers.h"
#include "ui/bookmark_menu.h"
#include "ui/folder_prop_dialog.h"
#include "ui/options_dialog.h"
#include "ui/project_prop_dialog.h"
#include "ui/language.h"
#include "ui/main_form.h"

namespace fs = std::filesystem;
using namespace qm;
using qm::ui::MainWindow;

namespace {
QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_language_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::string Source(const std::string& path) { return std::string(std::getenv("QM_SOURCE_DIR")) + "/" + path; }

void Screenshot(QWidget& w, const QString& name) {
    const QString dir = QString(std::getenv("QM_BINARY_DIR")) + "/screenshots";
    QDir().mkpath(dir);
    w.grab().save(dir + "/" + name);
}

bool Start(MainWindow& form, const std::string& home) {
    form.NoticeHook = [](const std::string&) {};
    app::CoreSettings s;
    s.home = home;
    s.singleInstance = false;
    s.startServer = false;
    std::string error;
    const bool ok = form.Start(s, error) == MainWindow::Started::Yes;
    EXPECT_TRUE(ok) << error;
    return ok;
}

template <class T>
T* Named(QWidget& w, const char* name) {
    T* o = w.findChild<T*>(name);
    EXPECT_TRUE(o) << name;
    return o;
}
}  // namespace

TEST(LanguageWindows, ShippedTemplateIsWhatTheProgramWrites) {
    App();
    const std::string home = qm::test::MakeTempDir("lang_template");
    setenv("HOME", home.c_str(), 1);
    std::string written;
    {
        MainWindow form;
        std::string error;
        ASSERT_TRUE(ui::WriteLanguageFile(home + "/qm.int", error)) << error;
        written = qm::test::ReadFile(home + "/qm.int");
    }
    for (const char* section :
         {"[MainForm]", "[LogWindow]", "[WndProgress]", "[dlgFolderProp]", "[dlgOptions]", "[dlgProp]", "[Strings]"})
        EXPECT_NE(written.find(std::string("\r\n") + section + "\r\n"), std::string::npos) << section;
    EXPECT_NE(written.find("\r\ntbProperties.Caption=Properties\r\n"), std::string::npos);
    EXPECT_NE(written.find("\r\ntvCategories.0=Download\r\n"), std::string::npos);
    EXPECT_EQ(written.find("Tree."), std::string::npos);  // the user's Projects are no texts
    EXPECT_NE(written.find("\r\ntvOptions.5=Transfers\r\n"), std::string::npos);
    EXPECT_NE(written.find("\r\ncbWhen.5=Every\r\n"), std::string::npos);
    EXPECT_EQ(written.find("lblFreeSpace"), std::string::npos);  // shown by the program, per machine
    // Regenerate with QM_UPDATE_LANG=1 after changing the windows.
    if (std::getenv("QM_UPDATE_LANG")) qm::test::WriteFile(Source("lang/qm.int.en"), written);
    EXPECT_EQ(written, qm::test::ReadFile(Source("lang/qm.int.en")))
        << "lang/qm.int.en is not what the windows write; run this test with QM_UPDATE_LANG=1";
    // The options pages with the later options, as shipped.
    ui::ProgramOptionsDialog options;
    app::WindowState state;
    options.SetForm(viewmodels::FillOptionsForm(store::Options(), state));
    options.show();
    for (const char* page : {"Transfers", "Advanced"}) {
        ASSERT_TRUE(options.SelectCategory(page));
        QTest::qWait(50);
        Screenshot(options, QString("options_%1.png").arg(QString(page).toLower()));
    }
}

TEST(LanguageWindows, GermanTranslationInTheProgramFolder) {
    App();
    const std::string home = qm::test::MakeTempDir("lang_german");
    setenv("HOME", home.c_str(), 1);
    fs::copy_file(Source("lang/qm.int.de"), home + "/qm.int");
    // A text that looks like markup stays text.
    std::string file = qm::test::ReadFile(home + "/qm.int");
    file.insert(file.find("[LogWindow]"), "lblAddress.Caption=<b>Adresse:</b>\r\n");
    ASSERT_TRUE(qm::test::WriteFile(home + "/qm.int", file));
    {
        MainWindow form;
        ASSERT_TRUE(Start(form, home));
        form.resize(900, 560);
        form.show();
        EXPECT_EQ(Named<QMenu>(form, "miFile")->title(), "&Datei");
        EXPECT_EQ(Named<QAction>(form, "tbProperties")->text(), "Eigenschaften");
        EXPECT_EQ(Named<QAction>(form, "miStart")->text(), "&Starten");
        EXPECT_EQ(form.Pages()->tabText(0), "Projekte");
        QLabel* address = Named<QLabel>(form, "lblAddress");
        EXPECT_EQ(address->textFormat(), Qt::PlainText);
        EXPECT_EQ(address->text(), "<b>Adresse:</b>");
        EXPECT_EQ(form.LogWindow()->windowTitle(), "Meldungen");
        EXPECT_EQ(store::UIMessage(store::UIText::ImportFavorites), "&Favoriten importieren");
        EXPECT_EQ(store::UIMessage(store::UIText::Ready), "Bereit");
        // The progress display's texts, the table's column captions among them.
        EXPECT_EQ(store::UIMessage(store::UIText::QueueGrowing), "Warteschlange wächst noch");
        form.ProgressWindow()->Refresh();
        QTableWidget* table = form.ProgressWindow()->List();
        EXPECT_EQ(table->horizontalHeaderItem(ui::DownloadProgressWindow::AddressColumn)->text(), "Adresse");
        EXPECT_EQ(table->horizontalHeaderItem(ui::DownloadProgressWindow::RateColumn)->text(), "Datenrate");
        // A dialog made later gets the language when it is created.
        ui::FolderPropertiesDialog dialog(&form);
        EXPECT_EQ(dialog.windowTitle(), "Ordnereigenschaften");
        EXPECT_EQ(Named<QLabel>(dialog, "lblName")->text(), "Ordnername:");
        // The Project and options dialogs too, their navigation trees and lists included.
        ui::ProjectPropertiesDialog prop(&form);
        EXPECT_EQ(prop.windowTitle(), "Projekteigenschaften");
        EXPECT_EQ(Named<QTreeWidget>(prop, "tvProp")->topLevelItem(0)->text(0), "Projekt");
        EXPECT_EQ(Named<QComboBox>(prop, "cbWeekday")->itemText(0), "Sonntag");
        ASSERT_TRUE(prop.SelectNode("Zeitplanung"));
        EXPECT_EQ(prop.CurrentPage(), "Shed");
        Named<QComboBox>(prop, "cbWhen")->setCurrentIndex(1);
        prop.show();
        QTest::qWait(50);
        Screenshot(prop, "translated_project_properties.png");
        ASSERT_TRUE(prop.SelectNode("Projekt"));
        QTest::qWait(50);
        Screenshot(prop, "translated_project_properties_address.png");
        // The later crawl settings are translated too.
        ASSERT_TRUE(prop.SelectNode("Erweitert"));
        EXPECT_EQ(prop.CurrentPage(), "Limits");
        EXPECT_EQ(Named<QCheckBox>(prop, "chkRenderPages")->text(), "Seiten mit einem Browser darstellen");
        QTest::qWait(50);
        Screenshot(prop, "translated_project_properties_advanced.png");
        prop.hide();
        ui::ProgramOptionsDialog options(&form);
        options.SetForm(viewmodels::FillOptionsForm(store::Options(), form.Core().State()));
        EXPECT_EQ(options.windowTitle(), "Optionen");
        ASSERT_TRUE(options.SelectCategory("Übertragungen"));
        EXPECT_EQ(options.CurrentPage(), "Transfers");
        EXPECT_EQ(options.DescriptionText(), "Übertragungen");
        EXPECT_EQ(Named<QCheckBox>(options, "chkFtpPassive")->text(), "Passive FTP-Datenverbindungen von Anfang an");
        options.show();
        QTest::qWait(50);
        Screenshot(options, "translated_options_transfers.png");
        options.hide();
        QTest::qWait(50);
        Screenshot(form, "translated_window.png");
        Named<QMenu>(form, "miProject")->popup(form.mapToGlobal(QPoint(60, 30)));
        QTest::qWait(50);
        Screenshot(*Named<QMenu>(form, "miProject"), "translated_project_menu.png");
    }
    store::ResetUIMessages();
}

TEST(LanguageWindows, BookmarksMenuFromTheImportThread) {
    App();
    const std::string home = qm::test::MakeTempDir("lang_bookmarks");
    setenv("HOME", home.c_str(), 1);
    std::string json = R"({"roots": {"bookmark_bar": {"type": "folder", "name": "Bookmarks bar", "children": [)";
    for (int i = 0; i < 60; ++i)
        json += std::string(i ? "," : "") + R"({"type": "url", "name": "Site )" + std::to_string(i) +
                R"( & more", "url": "127.0.0.1/s)" + std::to_string(i) + "\"}";
    json += "]}}}";
    ASSERT_TRUE(qm::test::WriteFile(home + "/.config/chromium/Default/Bookmarks", json));
    MainWindow form;
    ASSERT_TRUE(Start(form, home));
    form.show();
    QMenu* ifav = nullptr;
    for (int i = 0; i < 200 && !ifav; ++i) {
        QTest::qWait(25);
        ifav = form.findChild<QMenu*>("IFav");
    }
    ASSERT_TRUE(ifav) << "the bookmarks menu did not appear";
    QMenu* file = Named<QMenu>(form, "miFile");
    ASSERT_GE(file->actions().size(), 2);
    EXPECT_EQ(file->actions()[1]->menu(), ifav);
    EXPECT_EQ(ifav->title(), "Import &Favorites");
    QMenu* chromium = ifav->actions()[0]->menu();
    ASSERT_TRUE(chromium);
    EXPECT_EQ(chromium->title(), "Chromium Bookmarks");
    QMenu* bar = chromium->actions()[0]->menu();
    ASSERT_TRUE(bar);
    const int max = ui::ScreenMaxPerMenu();
    if (max > 0) {
        ASSERT_EQ(bar->actions().size(), max);
        EXPECT_EQ(bar->actions().back()->text(), ">>");
    }
    QAction* first = bar->actions()[0];
    EXPECT_EQ(first->text(), "Site 0 && more");
    EXPECT_EQ(first->toolTip(), "127.0.0.1/s0");

    ifav->popup(form.mapToGlobal(QPoint(40, 40)));
    chromium->popup(form.mapToGlobal(QPoint(240, 40)));
    bar->popup(form.mapToGlobal(QPoint(440, 40)));
    QTest::qWait(50);
    Screenshot(*bar, "bookmarks_menu.png");
    Screenshot(*ifav, "bookmarks_menu_top.png");
    bar->close();
    chromium->close();
    ifav->close();

    first->trigger();
    store::Project* p = form.SelectedNode().project;
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Caption, "Site 0 & more");
    EXPECT_EQ(p->URL, "http://127.0.0.1/s0");
}
