// Pictures from the desktop's icon theme where a name fits, else our own drawings.
#include "ui/image_list.h"

#include <QDir>
#include <QHash>

// Our drawings live in a static library: their resource is registered by hand.
static void InitPictures() { Q_INIT_RESOURCE(icons); }

namespace qm::ui {

namespace {
const char* ThemeName(int index) {
    switch (index) {
    case 0: return "applications-internet";
    case 1:
    case 2: return "folder";
    case 3: return "folder-open";
    case 4:
    case 13:
    case 27: return "text-x-generic";
    case 12: return "text-html";
    case 14: return "image-x-generic";
    case 15:
    case 22: return "x-office-document";
    case 16:
    case 17:
    case 26: return "audio-x-generic";
    case 18:
    case 19: return "video-x-generic";
    case 20: return "package-x-generic";
    case 21: return "application-x-executable";
    case 23: return "help-browser";
    case 24:
    case 25: return "font-x-generic";
    default: return nullptr;  // the Project states have no fitting theme icon: our own
    }
}

void ChooseTheme() {
    static bool done = false;
    if (done) return;
    done = true;
    InitPictures();
    // Without a desktop session Qt knows no theme; take a common one when it is installed.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") {
        for (const char* t : {"Adwaita", "breeze", "oxygen", "Tango"})
            if (QDir("/usr/share/icons/" + QString(t)).exists()) {
                QIcon::setThemeName(t);
                break;
            }
    }
}
}  // namespace

bool PictureKnown(int index) { return (index >= 0 && index <= 4) || (index >= 12 && index <= 30); }

QIcon Picture(int index) {
    static QHash<int, QIcon> cache;
    if (!PictureKnown(index)) return {};
    auto it = cache.find(index);
    if (it != cache.end()) return *it;
    ChooseTheme();
    QIcon fallback(QString(":/pictures/pic%1.xpm").arg(index));
    QIcon icon = fallback;
    if (const char* name = ThemeName(index); name && QIcon::hasThemeIcon(name)) icon = QIcon::fromTheme(name, fallback);
    cache.insert(index, icon);
    return icon;
}

}  // namespace qm::ui
