// The log and progress dock windows.
#include "ui/log_windows.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>

#include "app/progress_tracker.h"
#include "store/options.h"
#include "store/ui_messages.h"
#include "ui/language.h"

namespace qm::ui {

namespace {
const QColor kTroubleColour(200, 30, 30);
}  // namespace

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
    for (std::size_t i = static_cast<std::size_t>(list_->count()); i < lines.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(lines[i]));
        if (model_.Trouble(i)) item->setForeground(kTroubleColour);  // errors and refusals stand out
        list_->addItem(item);
    }
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
    list_ = new QTableWidget(0, ColumnCount, this);
    list_->setObjectName("lstProgress");
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(false);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->setColumnWidth(StatusColumn, 360);
    list_->setColumnWidth(BarColumn, 120);
    list_->setColumnWidth(AddressColumn, 300);
    list_->setColumnWidth(SizeColumn, 80);
    list_->horizontalHeader()->setStretchLastSection(true);
    setWidget(list_);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        QTableWidgetItem* item = list_->itemAt(p);
        int index = item ? item->row() : -1;
        if (item) list_->selectRow(index);
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

QProgressBar* DownloadProgressWindow::Bar(int row) const {
    return qobject_cast<QProgressBar*>(list_->cellWidget(row, BarColumn));
}

void DownloadProgressWindow::SetCell(int row, int column, const std::string& text) {
    QString q = QString::fromStdString(text);
    QTableWidgetItem* item = list_->item(row, column);
    if (!item)
        list_->setItem(row, column, new QTableWidgetItem(q));
    else if (item->text() != q)
        item->setText(q);
}

void DownloadProgressWindow::Refresh() {
    using store::UIText;
    const UIText headers[ColumnCount] = {UIText::ColumnStatus, UIText::Empty, UIText::ColumnAddress, UIText::Size,
                                         UIText::ColumnRate};
    for (int c = 0; c < ColumnCount; ++c) {
        QString caption = c == BarColumn ? QString() : QString::fromStdString(store::UIMessage(headers[c]));
        QTableWidgetItem* h = list_->horizontalHeaderItem(c);
        if (!h)
            list_->setHorizontalHeaderItem(c, new QTableWidgetItem(caption));
        else if (h->text() != caption)
            h->setText(caption);
    }
    static const std::vector<app::ConnectionProgress> kNone;
    static const std::vector<std::string> kNoPages;
    const std::vector<viewmodels::ConnectionRow> rows =
        viewmodels::ConnectionRows(model_.ProgressLines(), figures_ ? figures_->Connections() : kNone,
                                   figures_ ? figures_->Rendering() : kNoPages);
    if (list_->rowCount() != static_cast<int>(rows.size())) list_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const viewmodels::ConnectionRow& row = rows[static_cast<std::size_t>(r)];
        SetCell(r, StatusColumn, row.status);
        SetCell(r, AddressColumn, row.address);
        SetCell(r, SizeColumn, row.size);
        SetCell(r, RateColumn, row.rate);
        QProgressBar* bar = Bar(r);
        if (!bar) {
            bar = new QProgressBar(list_);
            bar->setObjectName(QString("barConnection%1").arg(r));
            bar->setTextVisible(false);
            list_->setCellWidget(r, BarColumn, bar);
        }
        bar->setVisible(row.bar != viewmodels::kNoBar);
        // A moving bar (no length known) is Qt's busy bar: a range of 0 to 0.
        const int maximum = row.bar == viewmodels::kMovingBar ? 0 : 1000;
        if (bar->maximum() != maximum) bar->setRange(0, maximum);
        if (row.bar >= 0 && bar->value() != row.bar) bar->setValue(row.bar);
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
