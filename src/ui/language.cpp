#include "ui/language.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>
#include <vector>

#include "store/ui_messages.h"
#include "ui/folder_prop_dialog.h"
#include "ui/options_dialog.h"
#include "ui/project_prop_dialog.h"
#include "ui/qt_text.h"

namespace qm::ui {

namespace {

// Kept as a property so that the template writes the text as given, whatever the tool tip
// holds to show it as plain text.
constexpr const char* kPlainHint = "qmPlainHint";
// Set on views whose items are the user's data (the Project tree): their items are never
// written to or read from a language file. Other objects marked so (the hidden commands) are
// left out of the template.
constexpr const char* kUserData = "qmUserData";

std::vector<QPointer<QWidget>>& Windows() {
    static std::vector<QPointer<QWidget>> windows;
    return windows;
}

bool Registered(const QObject* o) {
    for (const QPointer<QWidget>& w : Windows())
        if (w && w.data() == o) return true;
    return false;
}

// The window a component belongs to: the nearest registered window or top-level widget.
const QObject* OwnerWindow(const QObject* o) {
    for (const QObject* p = o->parent(); p; p = p->parent()) {
        if (Registered(p)) return p;
        // Menus are popup windows of their own but belong to the window that holds them.
        if (p->isWidgetType() && static_cast<const QWidget*>(p)->isWindow() && !qobject_cast<const QMenu*>(p)) return p;
    }
    return nullptr;
}

std::vector<QObject*> Components(QWidget* window) {
    std::vector<QObject*> out;
    for (QObject* o : window->findChildren<QObject*>()) {
        if (o->objectName().isEmpty() || OwnerWindow(o) != window) continue;
        out.push_back(o);
    }
    return out;
}

QTabWidget* TabOf(QWidget* page) {
    QWidget* stack = page->parentWidget();
    if (!qobject_cast<QStackedWidget*>(stack)) return nullptr;
    return qobject_cast<QTabWidget*>(stack->parentWidget());
}

// The texts that can be shown as markup are shown escaped.
QString PlainToolTip(const QString& text) {
    if (!Qt::mightBeRichText(text)) return text;
    return "<p style='white-space:pre'>" + text.toHtmlEscaped() + "</p>";
}

std::vector<QRadioButton*> RadioItems(QGroupBox* box) {
    std::vector<QRadioButton*> out;
    for (QRadioButton* r : box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) out.push_back(r);
    return out;
}

QTreeWidgetItem* TreeNodeAt(QTreeWidget* tree, int index) {
    int n = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it, ++n)
        if (n == index) return *it;
    return nullptr;
}

class WidgetTarget : public desktop::LanguageTarget {
public:
    explicit WidgetTarget(QWidget* w) : w_(w) {}
    std::string Name() const override { return S(w_->objectName()); }
    void SetTitle(const std::string& text) override { w_->setWindowTitle(Q(text)); }

    void SetCaption(const std::string& component, const std::string& text) override {
        QObject* o = FindComponent(w_, Q(component));
        const QString t = Q(text);
        if (auto* a = qobject_cast<QAction*>(o))
            a->setText(t);
        else if (auto* m = qobject_cast<QMenu*>(o))
            m->setTitle(t);
        else if (auto* l = qobject_cast<QLabel*>(o)) {
            l->setTextFormat(Qt::PlainText);
            l->setText(t);
        } else if (auto* b = qobject_cast<QAbstractButton*>(o))
            b->setText(t);
        else if (auto* g = qobject_cast<QGroupBox*>(o))
            g->setTitle(t);
        else if (auto* c = qobject_cast<QComboBox*>(o)) {
            if (c->isEditable()) c->setEditText(t);
        } else if (auto* page = qobject_cast<QWidget*>(o)) {
            if (QTabWidget* tabs = TabOf(page)) tabs->setTabText(tabs->indexOf(page), t);
        }
    }

    void SetHint(const std::string& component, const std::string& text) override {
        QObject* o = FindComponent(w_, Q(component));
        if (!o) return;
        const QString t = Q(text);
        if (auto* a = qobject_cast<QAction*>(o)) {
            a->setToolTip(PlainToolTip(t));
            a->setStatusTip(t);
        } else if (auto* w = qobject_cast<QWidget*>(o)) {
            w->setToolTip(PlainToolTip(t));
        } else {
            return;
        }
        o->setProperty(kPlainHint, t);
    }

    void SetItem(const std::string& component, int index, const std::string& text) override {
        QObject* o = FindComponent(w_, Q(component));
        if (auto* c = qobject_cast<QComboBox*>(o)) {
            if (index < c->count()) c->setItemText(index, Q(text));
        } else if (auto* g = qobject_cast<QGroupBox*>(o)) {
            std::vector<QRadioButton*> items = RadioItems(g);
            if (static_cast<std::size_t>(index) < items.size()) items[index]->setText(Q(text));
        } else if (auto* t = qobject_cast<QTreeWidget*>(o)) {
            if (t->property(kUserData).toBool()) return;
            if (QTreeWidgetItem* node = TreeNodeAt(t, index)) node->setText(0, Q(text));
        }
    }

private:
    QWidget* w_;
};

QString HintOf(const QObject* o) {
    QVariant plain = o->property(kPlainHint);
    if (plain.isValid()) return plain.toString();
    // An action's tool tip defaults to its caption: only a status text set by the program is
    // its own hint.
    if (auto* a = qobject_cast<const QAction*>(o)) return a->statusTip();
    if (auto* w = qobject_cast<const QWidget*>(o)) return w->toolTip();
    return {};
}

std::vector<std::function<QWidget*()>>& TemplateDialogs() {
    // The dialogs opened on demand; others add themselves with AddTemplateDialog.
    static auto mainWindow = [] { return Windows().empty() ? nullptr : Windows().front().data(); };
    static std::vector<std::function<QWidget*()>> makers = {
        [] { return new FolderPropertiesDialog(mainWindow()); },
        [] { return new ProgramOptionsDialog(mainWindow()); },
        [] { return new ProjectPropertiesDialog(mainWindow()); },
    };
    return makers;
}

}  // namespace

void RegisterLanguageWindow(QWidget* window) {
    auto& list = Windows();
    std::erase_if(list, [](const QPointer<QWidget>& w) { return w.isNull(); });
    if (!Registered(window)) list.emplace_back(window);
}

void AddTemplateDialog(std::function<QWidget*()> make) { TemplateDialogs().push_back(std::move(make)); }

desktop::LanguageFile& LoadedLanguage() {
    static desktop::LanguageFile file;
    return file;
}

QObject* FindComponent(QWidget* window, const QString& name) {
    if (name.isEmpty()) return nullptr;
    for (QObject* o : Components(window))
        if (o->objectName().compare(name, Qt::CaseInsensitive) == 0) return o;
    return nullptr;
}

bool LoadLanguage(const std::string& path, std::string& error) {
    desktop::LanguageFile file;
    if (!file.Load(path, error)) return error.empty();
    LoadedLanguage() = std::move(file);
    ApplyLanguage(nullptr);
    return true;
}

void ApplyLanguage(QWidget* window) {
    const desktop::LanguageFile& file = LoadedLanguage();
    if (!file.Loaded()) return;
    std::vector<std::unique_ptr<WidgetTarget>> targets;
    std::vector<desktop::LanguageTarget*> list;
    for (const QPointer<QWidget>& w : Windows()) {
        if (!w || (window && w.data() != window)) continue;
        targets.push_back(std::make_unique<WidgetTarget>(w.data()));
        list.push_back(targets.back().get());
    }
    file.Apply(list);
}

desktop::WindowTexts CollectWindowTexts(QWidget* window) {
    desktop::WindowTexts texts;
    texts.name = S(window->objectName());
    texts.title = S(window->windowTitle());
    for (QObject* o : Components(window)) {
        if (o->property(kUserData).toBool() && !qobject_cast<QTreeWidget*>(o)) continue;
        desktop::ComponentTexts c;
        c.name = S(o->objectName());
        if (auto* a = qobject_cast<QAction*>(o)) {
            if (a->isSeparator()) continue;
            c.caption = S(a->text());
        } else if (auto* m = qobject_cast<QMenu*>(o)) {
            c.caption = S(m->title());
        } else if (auto* l = qobject_cast<QLabel*>(o)) {
            c.caption = S(l->text());
        } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
            // The radio buttons of a group box are listed once, as the group's items.
            if (!(qobject_cast<QRadioButton*>(b) && qobject_cast<QGroupBox*>(b->parent()))) c.caption = S(b->text());
        } else if (auto* g = qobject_cast<QGroupBox*>(o)) {
            c.caption = S(g->title());
            for (QRadioButton* r : RadioItems(g)) c.items.push_back(S(r->text()));
        } else if (auto* cb = qobject_cast<QComboBox*>(o)) {
            if (cb->isEditable()) c.caption = S(cb->currentText());
            for (int i = 0; i < cb->count(); ++i) c.items.push_back(S(cb->itemText(i)));
        } else if (auto* t = qobject_cast<QTreeWidget*>(o)) {
            if (!t->property(kUserData).toBool())
                for (QTreeWidgetItemIterator it(t); *it; ++it) c.items.push_back(S((*it)->text(0)));
        } else if (auto* w = qobject_cast<QWidget*>(o)) {
            QTabWidget* tabs = TabOf(w);
            if (!tabs && !qobject_cast<QAbstractItemView*>(w)) continue;
            if (tabs) c.caption = S(tabs->tabText(tabs->indexOf(w)));
        } else {
            continue;
        }
        c.hint = S(HintOf(o));
        texts.components.push_back(std::move(c));
    }
    return texts;
}

bool WriteLanguageFile(const std::string& path, std::string& error) {
    // The dialogs that exist only while open are made for the template, with the current
    // language applied as when they open.
    std::vector<std::unique_ptr<QWidget>> dialogs;
    for (const auto& make : TemplateDialogs())
        if (QWidget* d = make()) {
            RegisterLanguageWindow(d);
            ApplyLanguage(d);
            dialogs.emplace_back(d);
        }
    std::vector<desktop::WindowTexts> windows;
    for (const QPointer<QWidget>& w : Windows())
        if (w) windows.push_back(CollectWindowTexts(w.data()));
    dialogs.clear();
    return desktop::WriteLanguageText(path, desktop::LanguageTemplateText(windows, desktop::CurrentMessages()), error);
}

void MarkUserData(QObject* view) { view->setProperty(kUserData, true); }

}  // namespace qm::ui
