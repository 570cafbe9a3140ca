// The application: start-up and shut-down around QApplication.
#pragma once

class CKestrowApp {
  public:
    // Registers the window messages "KORV_DRAW" and "KORV_STATUS_UPDATE".
    CKestrowApp();

    // Parses the command line, brings up the frame, the view and the scanner,
    // then runs the message loop (or the script). Answers the exit status.
    int Run(int argc, char** argv);
};
