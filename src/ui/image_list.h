#pragma once
// The window's one image list, indexed as the program numbers its pictures: Project states
// 0, 28, 29, 30; folders 1 to 3; site-map files 4 and 12 to 27.
#include <QIcon>

namespace qm::ui {

QIcon Picture(int index);  // an empty icon for an index the program does not use
bool PictureKnown(int index);

}  // namespace qm::ui
