#pragma once
// Text between the program's UTF-8 strings and Qt's.
#include <QString>
#include <string>

namespace qm::ui {

inline QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline std::string S(const QString& s) { return s.toStdString(); }

}  // namespace qm::ui
