// The kestrow command line.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

struct KestrowOptions {
    QString port;                // --port DEVICE; empty: found through the driver table
    bool simulate = false;       // --simulate[=SCENARIO]
    QString scenario;            // empty: the built-in office scenario
    QString openSite;            // --open SITE
    QString script;              // --script FILE ("-" is standard input)
    bool headless = false;       // --headless
    int startupPauseMs = 5000;   // --startup-pause MS
    QSize clientSize{240, 268};  // --client-size WxH
    bool clientSizeSet = false;  // the workspace sizes itself for the screen without it
    bool handheld = false;       // --handheld: the handheld frame instead of the workspace
    QString tracePath;           // --trace FILE: every byte on the scanner's line
    QString profile = QStringLiteral("voice");  // --profile NAME|FILE, for the pass/fail overlay
    bool wifi = false;                          // --wifi[=IFACE]
    QString wifiInterface;                      // empty: the first wireless interface that is up
    QString wifiReplay;                         // --wifi-replay DUMP
    int wifiScans = 1;          // --wifi-scans N: scans merged into each survey point
    QString wifiSaveDump;       // --wifi-save-dump FILE: every scan appended to it
    bool wifiFull6Ghz = false;  // --wifi-full-6ghz: then a passive scan of every 6 GHz channel
};

struct CommandLineResult {
    enum Outcome { kRun, kExit } outcome = kRun;
    int exitCode = 0;
    QString output;  // for standard output (help, version)
    QString error;   // one line for standard error
    KestrowOptions options;
};

// Parses the arguments (the program name first). --help and --version answer
// kExit with code 0 and their text; a usage error answers kExit with code 2.
CommandLineResult ParseCommandLine(const QStringList& arguments);
