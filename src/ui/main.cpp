// quillmoor: the desktop program.
#include <QApplication>
#include <QMessageBox>

#include "platform/folder_lock.h"
#include "ui/main_form.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmoor");
    QApplication::setApplicationDisplayName("Quillmoor 1.0");
    qm::platform::SetLockHolderName("the Quillmoor window");
    qm::app::CoreSettings settings;
    settings.closeOnSignals = true;  // a logout or kill saves and closes as File > Exit does
    QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--home" && i + 1 < args.size())
            settings.home = args[++i].toStdString();
        else
            settings.args.push_back(args[i].toStdString());
    }
    qm::ui::MainWindow form;
    std::string error;
    switch (form.Start(settings, error)) {
    case qm::ui::MainWindow::Started::AnotherInstance: return 0;
    case qm::ui::MainWindow::Started::Failed:
        QMessageBox::critical(nullptr, "Quillmoor", QString::fromStdString(error));
        return 1;
    case qm::ui::MainWindow::Started::Yes: break;
    }
    form.show();
    return app.exec();
}
