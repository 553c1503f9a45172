// The page's commands and the saved data: SAVE, RESET and CREATE_PNG recognised in the
// before-navigate event, the restore when a page has loaded, and the close prompt's answer.
// CPageCommands holds the restored and closing flags and talks to its window through PageHost,
// so the rules are tested with a fake window. UI thread only.
#pragma once

#include <string>

#include "../gbconv/gbconv.h"
#include "platform/browser.h"
#include "platform/child_process.h"
#include "workstation_settings.h"

// What follows the package folder in a file address that lies in it (compared after
// percent-decoding, with "\" and "/" alike); false for any other address (the web, other folders,
// a ".." that leaves the package).
bool commandPart(const std::u16string& url, const std::u16string& packageFolder, std::u16string* part);

enum class PageCommand { None, Save, Reset, CreatePng };
// The command an address names: exactly the package folder followed by SAVE, RESET or
// CREATE_PNG, nothing before or after (no query, no subfolder). A folder path that holds "SAVE"
// commands nothing, nor does any address outside the package.
PageCommand commandAt(const std::u16string& url, const std::u16string& packageFolder);

// What the host does with a navigation.
enum class NavigationVerdict {
  Proceed, // a file of the package (or an empty about: page): the browser goes on
  Refuse,  // cancelled without effect: an address outside the package, or a command that was not
           // asked for by the package's own top-level page
  Command, // cancelled (RESET: replaced by the start page) and carried out
};
// *command is the command the address names (None unless the verdict is Command).
NavigationVerdict judgeNavigation(const std::u16string& url, const platform::NavigationSource& source,
                                  const std::u16string& packageFolder, PageCommand* command);

// What the user is told when a SAVE at closing could not write the file.
std::u16string saveFailedText(const std::u16string& path);

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
// The script that hands saved text to the page ("loadFromSavedData();" when there is none). The
// text is parsed as JSON, never run: text that is no JSON object gives the page an empty form.
std::u16string restoreScript(const std::u16string& savedText);

// Run after each picture: the page's images of images/encryption.png load the file again.
extern const char16_t kReloadPictureScript[];
// Run after every CREATE_PNG of the page: when the picture was made, the reload above (pages that
// do not know the answer still show the new file); then the page's qrPictureResult(made), where
// the page defines it, which tells whether images/encryption.png now holds this request's picture.
std::u16string pictureResultScript(bool made);

class PageHost {
public:
  virtual ~PageHost() = default;
  virtual void navigate(const std::u16string& url) = 0;
  virtual void runScript(const std::u16string& script) = 0;
  // Runs the script once the current browser event has returned: a script run inside the event
  // would enter the page's script engine while the page's own submit() is still running there.
  virtual void runScriptLater(const std::u16string& script) = 0;
  // Ends the dialog with the cancel result; the window closes once the current event has returned.
  virtual void endDialogWithCancel() = 0;
  // Tells the user (a warning box owned by the window), once the current event has returned.
  virtual void tellUser(const std::u16string& text) = 0;
};

class CPageCommands {
public:
  CPageCommands(PageHost& host, const WorkstationSettings& settings, platform::ChildRunner& runner)
      : host_(host), settings_(settings), runner_(runner) {}

  void beforeNavigate(const std::u16string& url, const std::string* postData, const platform::NavigationSource& source,
                      bool* cancel);
  void documentComplete(const std::u16string& url);
  // The user asked to close the window; from now on a SAVE ends the dialog.
  void closeRequested() { closing_ = true; }
  // The close prompt was answered: Yes lets the page save (its SAVE ends the dialog once the file
  // is written, or says that it is not and leaves the window open); No ends the dialog, and the
  // conversion routine is forgotten; Back (Esc, the box's close button) returns to the form.
  enum class CloseAnswer { Yes, No, Back };
  void closeAnswered(CloseAnswer answer);

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
