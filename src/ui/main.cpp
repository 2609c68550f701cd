// quillmoor: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

#include "app/version.h"

#include "platform/folder_lock.h"
#include "ui/main_form.h"

namespace {

// --help and --version answer on the terminal, without a display.
bool AnsweredOnTerminal(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--home") == 0) {
            ++i;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quillmoor %s\n", qm::app::kVersion);
            return true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "usage: quillmoor [--home DIR] [/close] [/shutdown] [FOLDER/PROJECT ...]\n\n"
                "  --home DIR        the program folder (else $QUILLMOOR_HOME, else ~/.local/share/quillmoor)\n"
                "  /close            close once nothing has been downloading for 60 seconds\n"
                "  /shutdown         close like /close, then power the computer off\n"
                "  FOLDER/PROJECT    start a Project: a caption, an index (0 = first) or all\n"
                "  URL               an http or https address becomes a new Project in the selected folder\n"
                "  --version         print the version\n"
                "  --help            print this text\n");
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnsweredOnTerminal(argc, argv)) return 0;
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
