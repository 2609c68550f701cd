#pragma once
// The language file applied to the program's windows. Each window registers itself when it
// is created; the file's sections address a window by its object name and its components by
// theirs. Texts are set as plain text.
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "desktop/language_file.h"

namespace qm::ui {

// Records a window for the language file, in creation order (forgotten when it is destroyed).
void RegisterLanguageWindow(QWidget* window);
// The loaded language file of the program.
desktop::LanguageFile& LoadedLanguage();
// Loads the file when it exists and applies it to every registered window and the message
// list. False with error when the file exists but cannot be read.
bool LoadLanguage(const std::string& path, std::string& error);
// Applies the loaded file to one window (a dialog just created), or to all when null.
void ApplyLanguage(QWidget* window);
// The texts of one window as the template lists them.
desktop::WindowTexts CollectWindowTexts(QWidget* window);
// Writes the template of every registered window (after creating the dialogs opened on
// demand, with the current language applied) and the message list, atomically.
bool WriteLanguageFile(const std::string& path, std::string& error);

// A dialog that exists only while open, made (and freed) by WriteLanguageFile so that the
// template lists it.
void AddTemplateDialog(std::function<QWidget*()> make);
// A view whose items are the user's data (the Project tree): the language file leaves its
// items alone.
void MarkUserData(QObject* view);

// An object by name among a window's components (widgets, actions, menus), or null.
QObject* FindComponent(QWidget* window, const QString& name);

}  // namespace qm::ui
