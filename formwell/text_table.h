// The text table: the texts that the update dialog and the update's progress show, loaded once at
// start-up from the program's string table into `uiText` and read by entry number afterwards.
// Filled on the main thread before any worker starts; read-only after that (workers only read).
#pragma once

#include <functional>
#include <string>

constexpr int kUiTextCount = 60;

// Entry number -> text in the ANSI code page; entries the table does not name stay empty.
extern std::string uiText[kUiTextCount];

struct TextTableEntry {
  int entry;    // index into uiText
  int stringId; // identifier in the string table resource
};

// The entries that are filled, and from which string.
extern const TextTableEntry kTextTable[9];

// Loads every entry of kTextTable through load (the program's string table by default); a string
// the resource lacks gives an empty text. Clears the other entries.
void loadTextTable(const std::function<std::u16string(int)>& load);
void loadTextTable();
