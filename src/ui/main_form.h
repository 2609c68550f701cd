#pragma once
// MainWindow: the main window. It shows the Project tree, the site map, the log and progress
// windows and the status bar, and hands every gesture to the program core (app::Core and
// its tree commands). Questions go through app::Confirmation: message boxes here, scripted
// answers in tests.
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "viewmodels/log_model.h"
#include "app/core.h"
#include "app/tree_commands.h"
#include "ui/dir_tree.h"
#include "ui/log_windows.h"

class QLineEdit;

namespace qm::platform {
class TaskbarProgress;
}  // namespace qm::platform

namespace qm::ui {

class ProjectTreeView;

class MainWindow : public QMainWindow, public app::Confirmation {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Starts the program core (options, store, server, command line, timers). False with a
    // message when it cannot run; another running instance is asked to show itself.
    enum class Started { Yes, AnotherInstance, Failed };
    Started Start(const app::CoreSettings& settings, std::string& error);
    app::Core& Core() { return *program_; }

    // app::Confirmation: message boxes unless a test set the hooks.
    bool Ask(app::Question which, const std::string& text, const std::string& caption) override;
    void ShowError(const std::string& message, const std::string& caption) override;
    std::function<bool(app::Question, const std::string& text)> AskHook;
    std::function<void(const std::string& message)> NoticeHook;  // errors and notices

    // Commands, as the menus, toolbar and gestures call them.
    void AddressEntered();                // Enter in the address bar: new Project, started
    void PasteText(const QString& text);  // a dropped or pasted address
    void NewFolder();
    void RenameNode(app::Node node, const QString& caption);
    void DeleteSelected();
    bool DropNode(app::Node source, app::Node target);
    void StartSelected();
    void StopSelected();
    void ToggleSuspend();
    void FolderProperties();  // a folder's, or a Project's properties
    // node: the navigation node to show first ("Server", "Advanced"...), else "Project".
    void ProjectProperties(store::Project& project, const QString& node = QString());
    void CheckStoredSite();    // "Chec&k Stored Site..." on the selected Project
    void NewProjectDialog();   // "&Project...": the properties of a new Project
    void DefaultProperties();  // "De&faults" / "&Properties..."
    void RestoreDefaults();    // "De&faults" / "&Restore"
    void OptionsDialog();      // "&Options..."
    // Runs a modal dialog (exec when unset; tests answer it instead).
    std::function<int(QDialog& dialog)> ExecDialog;
    void Browse();
    void ExportWebArchive();                             // the selected Project's recorded runs as one WACZ file
    void BrowseWith(const QString& programFile);         // a tool of the three tool lists
    std::string BrowseTarget() const;                    // the address Browse opens, or empty
    bool SuspendTo(const QString& file);                 // "Suspend To &File..."
    bool ResumeFrom(const QString& file);                // "Resume From F&ile..."
    bool FindNext(const QString& text, bool matchCase);  // one press of the find dialog's button
    void ShowMapPage();

    // What the window shows.
    app::Node SelectedNode() const;
    void SelectNode(app::Node node);
    void RefreshTree();
    void UpdateMap();
    QTreeWidget* Tree() const;
    DirectoryTreeView* SiteMap() const { return siteMap_; }
    QTabWidget* Pages() const { return pages_; }
    QLineEdit* AddressField() const { return edtURL_; }
    QSpinBox* LevelField() const { return edtLevel_; }
    QLabel* StatusPanel(int i) const { return panels_[i]; }
    MessagesWindow* LogWindow() const { return logWindow_; }
    DownloadProgressWindow* ProgressWindow() const { return progressWindow_; }
    viewmodels::LogModel& Log() { return log_; }
    // The progress display: the status bar's overall bar, a Project's bar in the tree (null
    // when the Project has none now) and the text beside it.
    QProgressBar* OverallBar() const { return overall_; }
    QProgressBar* ProjectBar(const store::Project& project) const;
    QString ProjectProgressText(const store::Project& project) const;
    void ShowProgress();  // brings the bars, title, tooltip and task bar up to the figures
    int PictureFor(const std::string& folder, const std::string& file) const;

    // Addresses dropped on the window (text/uri-list, text/plain) become address pastes.
    void dropEvent(QDropEvent* e) override;

protected:
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;

private:
    void BuildWidgets();
    void BuildMenus();
    void AddDialogMenus(QMenu* settings);
    int RunDialog(QDialog& dialog);
    void HookEngine();
    void RestoreState();
    void StoreState();
    void QuarterTick();
    void UpdateIcons();
    QTreeWidgetItem* ItemFor(app::Node node) const;
    app::Node NodeOf(const QTreeWidgetItem* item) const;
    app::Node NodeFromIndex(int index) const;
    void SetStatus(int panel, const QString& text);
    bool MapPageShown() const;

    std::unique_ptr<app::SystemClock> clock_;
    std::unique_ptr<app::Core> program_;
    viewmodels::LogModel log_;

    ProjectTreeView* tree_ = nullptr;
    DirectoryTreeView* siteMap_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QWidget* pgProjects_ = nullptr;
    QWidget* pgMap_ = nullptr;
    QLineEdit* edtURL_ = nullptr;
    QSpinBox* edtLevel_ = nullptr;
    QLabel* panels_[5] = {};
    QProgressBar* gauge_ = nullptr;
    QProgressBar* overall_ = nullptr;
    QString baseTitle_;   // the title without the percentage
    QString shownTitle_;  // the title ShowProgress set last
    std::unique_ptr<platform::TaskbarProgress> taskbar_;
    MessagesWindow* logWindow_ = nullptr;
    DownloadProgressWindow* progressWindow_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QAction* miSuspend_ = nullptr;
    QAction* miPaste_ = nullptr;
    QAction* tbPaste_ = nullptr;
    QAction* miPanel_ = nullptr;
    QAction* miWindow_ = nullptr;
    QTimer tmrPaste_;
    bool refreshing_ = false;
    bool closing_ = false;
    const qm::store::SortedStringList* mapList_ = nullptr;
    store::Project* mapProject_ = nullptr;
};

}  // namespace qm::ui
