// Message boxes: MessageBox on Windows; on Linux a GTK 3 message dialog when a display is there,
// the text on standard error otherwise (a program started without a desktop still says what went
// wrong, and answers as if the first button had been pressed).
//
// Any thread may call: on the UI thread (ui_thread.h) the box runs at once; from a worker thread
// it is carried out on the UI thread and the worker waits for the answer. (With no UI thread yet,
// the calling thread becomes it.) The UI thread must be handling messages for a worker's box to
// appear, as it does while a modal dialog runs. Blocks until the box is dismissed.
#pragma once

#include <string>

namespace platform {

class Dialog;

enum class MessageBoxButtons { Ok, YesNo };
enum class MessageBoxIcon { None, Information, Warning, Error, Question };

// Returns kIdOk, kIdYes or kIdNo (dialog.h); kIdCancel when the box could not be shown at all, or
// when a Yes/No box was closed without an answer (Linux: Esc or its close button; a Windows Yes/No
// box has neither, so it always answers).
// owner: the dialog the box is modal to (null: none; a worker passes null or a dialog that is
// still running). Texts in the ANSI code page, or UTF-16.
int messageBox(const std::string& ansiText, const std::string& ansiCaption, MessageBoxButtons buttons,
               MessageBoxIcon icon, Dialog* owner = nullptr);
int messageBox(const std::u16string& text, const std::u16string& caption, MessageBoxButtons buttons,
               MessageBoxIcon icon, Dialog* owner = nullptr);

// The OK box that installation shows (MB_OK, no icon, no owner), ANSI texts, any thread.
void showMessageBox(const std::string& text, const std::string& caption);

} // namespace platform
