// The main window's Project properties, Defaults Project and options commands.
#include <QMenu>

#include "app/download_run.h"
#include "viewmodels/map_page.h"
#include "viewmodels/options_form.h"
#include "viewmodels/project_prop_rules.h"
#include "app/session.h"
#include "app/window_state.h"
#include "engine/queue_manager.h"
#include "engine/site_map.h"
#include "server/web_server.h"
#include "store/defaults_project.h"
#include "store/options.h"
#include "store/ui_messages.h"
#include "ui/add_keyword_dialog.h"
#include "ui/main_form.h"
#include "ui/site_check_dialog.h"
#include "app/stored_site_check.h"
#include "ui/options_dialog.h"
#include "ui/project_prop_dialog.h"

namespace qm::ui {

int MainWindow::RunDialog(QDialog& dialog) { return ExecDialog ? ExecDialog(dialog) : dialog.exec(); }

void MainWindow::AddDialogMenus(QMenu* settings) {
    settings->addSeparator();
    QMenu* defaults = settings->addMenu("De&faults");
    defaults->setObjectName("miDefaults");
    defaults->addAction("&Properties...", this, [this] { DefaultProperties(); })->setObjectName("miDefaultProperties");
    defaults->addAction("&Restore", this, [this] { RestoreDefaults(); })->setObjectName("miDefaultRestore");
    settings->addAction("&Options...", this, [this] { OptionsDialog(); })->setObjectName("miOptions");
}

void MainWindow::ProjectProperties(store::Project& project, const QString& node) {
    if (!program_) return;
    ProjectPropertiesDialog dlg(this);
    // The keyword picker shows the Project's stored files; offered for the selected Project.
    if (SelectedNode().project == &project) {
        dlg.KeywordPicker = [this, &project](viewmodels::KeywordKind kind) {
            KeywordPickerDialog picker(this);
            picker.Prepare(kind, app::MapRootFolder(project.Folder), &engine::GetMap(project), project.Caption);
            return RunDialog(picker) == QDialog::Accepted ? picker.PickedCaption() : QString();
        };
    }
    dlg.SetProject(project, false);
    if (!node.isEmpty()) dlg.SelectNode(node);
    if (RunDialog(dlg) != QDialog::Accepted) return;
    // Only what the user changed goes back: the engine and the scheduler may have changed
    // the Project while the dialog was open.
    program_->Commands().ApplyProperties(project, dlg.Original(), dlg.Settings());
    RefreshTree();
    UpdateMap();
    UpdateIcons();
}

void MainWindow::CheckStoredSite() {
    store::Project* project = SelectedNode().project;
    if (!program_ || !project) return;
    SiteCheckDialog dlg(this);
    dlg.Show(app::CheckStoredSite(*project));
    dlg.OnOpenRule = [this, project](const QString& node) { ProjectProperties(*project, node); };
    RunDialog(dlg);
}

void MainWindow::NewProjectDialog() {
    if (!program_) return;
    pages_->setCurrentWidget(pgProjects_);
    store::Project workingCopy;
    workingCopy.Assign(program_->GetSession().Defaults());
    workingCopy.Caption = "http://";
    ProjectPropertiesDialog dlg(this);
    dlg.SetProject(workingCopy, false);
    if (RunDialog(dlg) != QDialog::Accepted) return;
    program_->Commands().Select(SelectedNode());
    store::Project& p = program_->Commands().NewProject(dlg.Settings());
    RefreshTree();
    SelectNode(app::Node{p.Folder, &p});
    UpdateIcons();
}

void MainWindow::DefaultProperties() {
    if (!program_) return;
    store::Project& defaults = program_->GetSession().Defaults();
    ProjectPropertiesDialog dlg(this);
    dlg.SetProject(defaults, true);
    if (RunDialog(dlg) != QDialog::Accepted) return;
    program_->Commands().ApplyDefaults(dlg.Original(), dlg.Settings());
    edtLevel_->setValue(defaults.Lev);
}

void MainWindow::RestoreDefaults() {
    if (!program_) return;
    program_->Commands().RestoreDefaults();
    edtLevel_->setValue(program_->GetSession().Defaults().Lev);
}

void MainWindow::OptionsDialog() {
    if (!program_) return;
    ProgramOptionsDialog dlg(this);
    dlg.DetectSources = desktop::SystemBrowserSources(&program_->GetSession().Registry());
    dlg.SetForm(viewmodels::FillOptionsForm(store::Options(), program_->State()));
    if (RunDialog(dlg) != QDialog::Accepted) return;
    program_->OptionsChanged(viewmodels::ApplyOptionsForm(dlg.Form(), store::Options(), program_->State()).portChanged);
    UpdateMap();
}

}  // namespace qm::ui
