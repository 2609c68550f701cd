#pragma once
// The program's help: short HTML pages built into the program, one per topic, shown in a
// window of their own.
#include <QString>

class QWidget;

namespace qm::ui {

// The resource path of a topic's page (":/help/<topic>.html"); empty when there is none.
QString HelpPagePath(const QString& topic);
// Shows the topic in the help window (one window, reused); false when there is no page.
bool ShowHelpTopic(QWidget* parent, const QString& topic);

}  // namespace qm::ui
