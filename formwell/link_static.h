// CLinkStatic: a static text of a dialog that looks and acts like a web link: underlined, coloured
// by state (normal, hovered, visited), a hand cursor, a tooltip, shrunk to its text, and a click
// that tells its parent dialog which link it was (by link name). Built on the platform dialog's
// control hooks; UI thread only. The owning dialog keeps it as a member and attaches it from
// onInitDialog; it must outlive the dialog's window (a member does).
#pragma once

#include <string>

#include "platform/dialog.h"

// What a link's click can ask of its parent dialog besides OK.
class CLinkParent {
public:
  virtual ~CLinkParent() = default;
  virtual void chooseExistingAccount() = 0;
};

class CLinkStatic : public platform::ControlHook {
public:
  // hover = this value: the system highlight colour.
  static constexpr platform::Colour kSystemHighlight = 0xffffffffu;

  CLinkStatic() = default;
  CLinkStatic(const CLinkStatic&) = delete;
  CLinkStatic& operator=(const CLinkStatic&) = delete;

  // Binds the link to control id of dialog (the framework's data exchange and attach): style,
  // texts, underline font, resize to the text, cursor, tooltip.
  void attach(platform::Dialog& dialog, int id);

  void setColours(platform::Colour normal, platform::Colour visited, platform::Colour hover = kSystemHighlight);
  void setVisited(bool visited);

  // The name by which a click reaches the parent: "BTN_START" its onOK, "BTN_START_ACCOUNT" its
  // chooseExistingAccount. Written by the owning dialog after attaching.
  std::string linkName;
  // The tooltip; taken from the control's text at attach time when empty.
  std::u16string targetText;
  bool underline = true;
  bool adjustToFit = true;

  // The colour the text has now: hover while over, else visited once clicked, else normal.
  platform::Colour currentColour() const;
  bool isOver() const { return over_; }
  bool isVisited() const { return visited_; }
  platform::Cursor cursorHandle() const { return cursor_; }

  // The rectangle a control of this style takes when shrunk to a text of this size.
  static platform::Rect fitToText(const platform::Rect& rect, const platform::Size& text, uint32_t style);

  // Hooks, called by the dialog.
  void onMouseMove(int x, int y) override;
  platform::Cursor cursor() override { return cursor_; }
  void onClicked() override;
  bool textColour(platform::Colour* colour) override;

private:
  void redraw();
  void resizeToText();
  void loadHandCursor();

  platform::Dialog* dialog_ = nullptr;
  int id_ = 0;
  platform::Colour normal_ = platform::rgb(0, 0, 238);
  platform::Colour visitedColour_ = platform::rgb(85, 26, 139);
  platform::Colour hover_ = kSystemHighlight;
  bool over_ = false;
  bool visited_ = false;
  platform::Cursor cursor_ = nullptr;
};
