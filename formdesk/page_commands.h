// The page's commands and the saved data: SAVE, RESET and CREATE_PNG recognised in the
// before-navigate event, the restore when a page has loaded, and the close prompt's answer.
// CPageCommands holds the restored and closing flags and talks to its window through PageHost,
// so the rules are tested with a fake window. UI thread only.
#pragma once

#include <string>

#include "../gbconv/gbconv.h"
#include "platform/child_process.h"
#include "workstation_settings.h"

// The part of an address in which the commands are looked for: what follows the package folder
// when the address lies in it (compared after percent-decoding, with "\" and "/" alike), else
// what follows the address's last separator. A folder path that holds "SAVE" commands nothing.
std::u16string commandPart(const std::u16string& url, const std::u16string& packageFolder);

// The text saved from a SAVE body: the bytes after "CCC=" (nothing for four bytes or fewer).
std::string savedDataFromBody(const std::string* postData);

// Replaces the saved-data file atomically with these bytes (empty bytes empty it).
bool writeSavedData(const std::u16string& path, const std::string& bytes);
// The whole saved-data file in the ANSI code page; empty when it is missing or unreadable.
std::u16string readSavedText(const std::u16string& path);

// The text as it may stand between single quotes in a script: backslash, apostrophe, carriage
// return, line feed and the line and paragraph separators escaped; the script's string value is
// then exactly the text.
std::u16string escapeForSingleQuotes(const std::u16string& text);
// The script that hands saved text to the page ("loadFromSavedData();" when there is none).
std::u16string restoreScript(const std::u16string& savedText);

// Run after each picture: the page's images of images/encryption.png load the file again.
extern const char16_t kReloadPictureScript[];

class PageHost {
public:
  virtual ~PageHost() = default;
  virtual void navigate(const std::u16string& url) = 0;
  virtual void runScript(const std::u16string& script) = 0;
  // Ends the dialog with the cancel result; the window closes once the current event has returned.
  virtual void endDialogWithCancel() = 0;
};

class CPageCommands {
public:
  CPageCommands(PageHost& host, const WorkstationSettings& settings, platform::ChildRunner& runner)
      : host_(host), settings_(settings), runner_(runner) {}

  void beforeNavigate(const std::u16string& url, const std::string* postData, bool* cancel);
  void documentComplete(const std::u16string& url);
  // The user asked to close the window; from now on a SAVE ends the dialog.
  void closeRequested() { closing_ = true; }
  // The close prompt was answered: Yes lets the page save (its SAVE then ends the dialog); No
  // ends the dialog. Either way the conversion routine is forgotten.
  void closeAnswered(bool save);

  void setConversion(ANSIToGBProc convert) { convert_ = convert; }
  std::u16string savePath() const { return settings_.programFolder + settings_.saveFileName; }
  bool restored() const { return restored_; }
  bool closing() const { return closing_; }

private:
  PageHost& host_;
  const WorkstationSettings& settings_;
  platform::ChildRunner& runner_;
  ANSIToGBProc convert_ = nullptr;
  bool restored_ = false;
  bool closing_ = false;
};
