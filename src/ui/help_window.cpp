// The help window.
#include "ui/help_window.h"

#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

// The pages are built into the widget library; a static library registers them on request.
static void InitHelpPages() { Q_INIT_RESOURCE(help); }

namespace qm::ui {

QString HelpPagePath(const QString& topic) {
    static const bool registered = (InitHelpPages(), true);
    (void)registered;
    QString path = ":/help/" + topic + ".html";
    return !topic.isEmpty() && QFile::exists(path) ? path : QString();
}

bool ShowHelpTopic(QWidget* parent, const QString& topic) {
    QString path = HelpPagePath(topic);
    if (path.isEmpty()) return false;
    static QPointer<QTextBrowser> window;
    if (!window) {
        window = new QTextBrowser(parent);
        window->setObjectName("HelpWindow");
        window->setWindowFlag(Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setOpenLinks(true);
        window->setOpenExternalLinks(false);
        window->resize(520, 440);
    }
    window->setSource(QUrl("qrc" + path));
    window->setWindowTitle(window->documentTitle().isEmpty() ? QString("Help") : window->documentTitle());
    window->show();
    window->raise();
    return true;
}

}  // namespace qm::ui
