// CREATE_PNG: the QR text from the page's post and the installed version, the encoder's command
// line, and the encoder run hidden with a bound. The picture is images/encryption.png in the
// package folder; the encoder is qrencode/qrencode.exe in the program folder. The encoder writes
// into a private temporary folder, and the picture is moved into place through the atomic file
// replacement, never through a link.
#pragma once

#include <string>

#include "../gbconv/gbconv.h"
#include "platform/child_process.h"

// The version code that follows the signature: "2010.7.19.1" -> "0071901", "1.0.0.0" -> "0000.0.0",
// missing or shorter than four characters -> "000000".
std::u16string versionCode(const std::u16string& installedVersion);

// The signature from a CREATE_PNG body ("CCC_ID=<signature>"): the bytes after the first six, up
// to a NUL, passed through convert when there is one, in the ANSI code page, without the "=".
std::u16string signatureFromBody(const std::string* postData, ANSIToGBProc convert);

// How the text is handed to the encoder: as it is when it holds only letters and digits;
// otherwise after "--" (so it can never be taken for an option) and, on the Windows command line,
// in double quotes with Windows's quoting rules, so it stays one argument.
bool isPlainQrText(const std::u16string& text);
platform::ChildCommand encoderCommand(const std::u16string& programFolder, const std::u16string& picturePath,
                                      const std::u16string& qrText);

// The picture's place in the package, when nothing on the way from the package folder to it is a
// link (the images folder a real folder, the picture a plain file or missing); else empty.
std::u16string picturePlace(const std::u16string& packageFolder);

// The bound on one encoder run; an encoder still running then is ended and the previous picture
// stays.
constexpr unsigned kEncoderTimeoutMs = 30000;

// The whole command: QR text = signature + version code, then the encoder, waited for, and its
// picture moved into place. True when the new picture is there; else the previous one stays.
bool createQrPicture(platform::ChildRunner& runner, const std::string* postData, ANSIToGBProc convert,
                     const std::u16string& installedVersion, const std::u16string& programFolder,
                     const std::u16string& packageFolder);
