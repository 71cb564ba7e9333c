// The program on the qt display, drawn on Qt's offscreen platform, with a
// person who uses the widgets; and the checks that a dialog is drawn as its
// template lays it out.
#pragma once

#include <filesystem>
#include <string>

#include "platform/user.h"
#include "program_fixture.h"
#include "qt_person.h"

namespace tavrel::testing {

class ProgramOnQtScreen : public ProgramTest {
protected:
    ProgramOnQtScreen(int width, int height, int scale) : screen_(width, height, scale) {}

    platform::qt::DeviceScreen& screen() { return screen_.screen(); }
    // Waits until the screen shows the window, and saves a picture of the
    // screen's window in the build's picture folder.
    void SavePicture(HWND window, const std::string& name);

    QtTestApplication application_;
    QtScreenInPlace screen_;
    QtPerson hands_{screen_.screen()};
};

// Every control of the dialog lies inside it; two controls overlap only where
// a group box frames the other; each control's drawn text is its text in
// `dialogTemplate` (null: its text in the window layer), and fits.
void ExpectDrawnAsLaidOut(platform::qt::DeviceScreen& screen, HWND dialog, const DLGTEMPLATE* dialogTemplate);

// The picture folder of the build (the tests' artefacts).
std::filesystem::path PictureFolder();

}  // namespace tavrel::testing
