#include "text_table.h"

#include "platform/codepage.h"
#include "platform/resources.h"

std::string uiText[kUiTextCount];

// Entries 18 and 19 share string 27: the status line says the same before and after the download.
const TextTableEntry kTextTable[9] = {
    {6, 13}, {7, 21}, {14, 28}, {15, 29}, {16, 30}, {18, 27}, {19, 27}, {21, 32}, {24, 35},
};

void loadTextTable(const std::function<std::u16string(int)>& load) {
  for (std::string& text : uiText)
    text.clear();
  for (const TextTableEntry& e : kTextTable)
    uiText[e.entry] = platform::wideToAnsi(load(e.stringId));
}

void loadTextTable() { loadTextTable(platform::loadString); }
