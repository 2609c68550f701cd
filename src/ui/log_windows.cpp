// The log and progress dock windows.
#include "ui/log_windows.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QInputDialog>

#include "store/options.h"
#include "ui/language.h"

namespace qm::ui {

MessagesWindow::MessagesWindow(viewmodels::LogModel& model, QWidget* parent)
    : QDockWidget("Messages Window", parent), model_(model) {
    setObjectName("LogWindow");
    RegisterLanguageWindow(this);
    list_ = new QListWidget(this);
    list_->setObjectName("lstLog");
    list_->setUniformItemSizes(true);
    setWidget(list_);

    menu_ = new QMenu("&Settings", this);
    menu_->setObjectName("miSettings");
    track_ = menu_->addAction("&Track", this, &MessagesWindow::Track);
    track_->setObjectName("miTrack");
    pause_ = menu_->addAction("&Pause", this, &MessagesWindow::Pause);
    pause_->setObjectName("miPause");
    QMenu* filter = menu_->addMenu("Fil&ter");
    filter->setObjectName("miFilter");
    const char* names[3] = {"&Connect status", "&Download progress", "D&isconnect status"};
    for (int tag = 0; tag < 3; ++tag) {
        filters_[tag] = filter->addAction(names[tag], this, [this, tag] { Filter(tag); });
        filters_[tag]->setData(tag);
        filters_[tag]->setObjectName(QString("miFilter%1").arg(tag));
        filters_[tag]->setCheckable(true);
    }
    track_->setCheckable(true);
    pause_->setCheckable(true);
    menu_->addSeparator();
    QAction* clear = menu_->addAction("C&lear", this, &MessagesWindow::ClearLog);
    clear->setShortcut(Qt::Key_F8);
    clear->setObjectName("miClear");
    menu_->addAction("&Save to file...", this, &MessagesWindow::SaveAs)->setObjectName("miSaveLog");
    QAction* find = menu_->addAction("&Find...", this, &MessagesWindow::FindAsk);
    find->setShortcut(QKeySequence("Ctrl+F"));
    find->setObjectName("miFindLog");
    find->setShortcutContext(Qt::WidgetWithChildrenShortcut);  // the main window's Find keeps Ctrl+F
    findNext_ = menu_->addAction("Find &Next", this, &MessagesWindow::FindNext);
    findNext_->setShortcut(QKeySequence("Ctrl+L"));
    findNext_->setObjectName("miFindNext");
    findNext_->setEnabled(false);
    menu_->addSeparator();
    menu_->addAction("&Close", this, [this] { close(); })->setObjectName("miCloseLog");
    addAction(find);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { menu_->popup(list_->viewport()->mapToGlobal(p)); });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { model_.Select(row); });
    SyncChecks();

    refresh_.setInterval(100);
    connect(&refresh_, &QTimer::timeout, this, &MessagesWindow::Refresh);
    refresh_.start();
}

void MessagesWindow::SyncChecks() {
    track_->setChecked(qm::store::Options().TrackLog);
    pause_->setChecked(!qm::store::Options().UseLog);
    for (int tag = 0; tag < 3; ++tag) filters_[tag]->setChecked(model_.FilterChecked(tag));
}

void MessagesWindow::Refresh() {
    if (model_.LogRevision() == shownRevision_) return;
    const auto& lines = model_.Lines();
    if (model_.LogGeneration() != shownGeneration_ || list_->count() > static_cast<int>(lines.size())) {
        list_->clear();
        shownGeneration_ = model_.LogGeneration();
    }
    QStringList fresh;
    for (std::size_t i = static_cast<std::size_t>(list_->count()); i < lines.size(); ++i)
        fresh << QString::fromStdString(lines[i]);
    if (!fresh.isEmpty()) list_->addItems(fresh);
    shownRevision_ = model_.LogRevision();
    QSignalBlocker block(list_);
    list_->setCurrentRow(model_.Selected());
    if (model_.Selected() >= 0) list_->scrollToItem(list_->item(model_.Selected()));
}

void MessagesWindow::Track() { track_->setChecked(model_.ToggleTrack()); }
void MessagesWindow::Pause() { pause_->setChecked(model_.TogglePause()); }
void MessagesWindow::Filter(int tag) { filters_[tag]->setChecked(model_.ToggleFilter(tag)); }

void MessagesWindow::ClearLog() {
    model_.Clear();
    Refresh();
}

bool MessagesWindow::SaveTo(const QString& path) {
    std::string error;
    return model_.Save(path.toStdString(), error);
}

void MessagesWindow::SaveAs() {
    QFileDialog dlg(this, "Save log", QString(), "Log files (*.log);;All files (*)");
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix("log");
    if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()) SaveTo(dlg.selectedFiles().front());
}

bool MessagesWindow::FindText(const QString& text) {
    bool found = model_.Find(text.toStdString()) >= 0;
    findNext_->setEnabled(!model_.SearchText().empty());
    shownRevision_ = ~0ull;
    Refresh();
    return found;
}

void MessagesWindow::FindAsk() {
    bool ok = false;
    QString text = QInputDialog::getText(this, "Find in Log", "Text to Find:", QLineEdit::Normal,
                                         QString::fromStdString(model_.SearchText()), &ok);
    if (ok) FindText(text);
}

bool MessagesWindow::FindNext() {
    bool found = model_.FindNext() >= 0;
    shownRevision_ = ~0ull;
    Refresh();
    return found;
}

void MessagesWindow::closeEvent(QCloseEvent* e) {
    emit closedByUser();
    QDockWidget::closeEvent(e);
}

DownloadProgressWindow::DownloadProgressWindow(viewmodels::LogModel& model, QWidget* parent)
    : QDockWidget("Download Progress", parent), model_(model) {
    setObjectName("WndProgress");
    RegisterLanguageWindow(this);
    list_ = new QListWidget(this);
    list_->setObjectName("lstProgress");
    list_->setUniformItemSizes(true);
    setWidget(list_);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        QListWidgetItem* item = list_->itemAt(p);
        int index = item ? list_->row(item) : -1;
        if (item) list_->setCurrentItem(item);
        QMenu menu(this);
        QAction* cancel = menu.addAction("Cancel", this, [this, index] { CancelLine(index); });
        cancel->setObjectName("mpCancel");
        cancel->setEnabled(index >= 0);
        menu.exec(list_->viewport()->mapToGlobal(p));
    });
    refresh_.setInterval(100);
    connect(&refresh_, &QTimer::timeout, this, &DownloadProgressWindow::Refresh);
    refresh_.start();
}

void DownloadProgressWindow::Refresh() {
    if (model_.ProgressRevision() == shownRevision_) return;
    shownRevision_ = model_.ProgressRevision();
    const auto& lines = model_.ProgressLines();
    while (list_->count() > static_cast<int>(lines.size())) delete list_->takeItem(list_->count() - 1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        QString text = QString::fromStdString(lines[i]);
        if (static_cast<int>(i) < list_->count()) {
            if (list_->item(static_cast<int>(i))->text() != text) list_->item(static_cast<int>(i))->setText(text);
        } else {
            list_->addItem(text);
        }
    }
}

void DownloadProgressWindow::CancelLine(int index) {
    if (index >= 0 && OnCancel) OnCancel(index);
}

void DownloadProgressWindow::closeEvent(QCloseEvent* e) {
    emit closedByUser();
    QDockWidget::closeEvent(e);
}

}  // namespace qm::ui
