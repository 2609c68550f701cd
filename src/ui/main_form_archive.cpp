// The main window's "Export web archive..." command: a Project's recorded runs as one WACZ
// file, with a progress line in the status bar.
#include <QFileDialog>
#include <QLabel>

#include "app/web_archive_export.h"
#include "store/project.h"
#include "ui/main_form.h"
#include "ui/qt_text.h"

namespace qm::ui {

void MainWindow::ExportWebArchive() {
    const store::Project* project = SelectedNode().project;
    if (!project) return;
    QFileDialog chooser(this, "Export web archive", Q(project->Caption + ".wacz"), "Web archive packages (*.wacz)");
    chooser.setObjectName("dlgExportArchive");
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    if (RunDialog(chooser) != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    QString file = chooser.selectedFiles().first();
    if (file.isEmpty()) return;
    if (!file.endsWith(".wacz", Qt::CaseInsensitive)) file += ".wacz";
    std::string error;
    auto progress = [this](const std::string& text) {
        SetStatus(0, Q(text));
        panels_[0]->repaint();
    };
    if (app::ExportWebArchive(*project, S(file), progress, error))
        SetStatus(0, Q("Web archive exported to " + S(file)));
    else
        ShowError(error, "Export web archive");
}

}  // namespace qm::ui
