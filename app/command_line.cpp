#include "app/command_line.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

constexpr const char* kVersion = "1.0.0";
// The largest client area a side: each of the view's client-sized images
// (the frame it paints, the window's backing store, a screenshot) takes
// 256 MiB at this size, which keeps the window within about 1 GB with the
// largest map and overlay.
constexpr int kMaxClientSide = 8192;
// A record sums its levels in 16 bits: 100 samples of -128 dBm still fit.
constexpr int kMaxWifiScans = 100;

CommandLineResult UsageError(const QString& text) {
    CommandLineResult result;
    result.outcome = CommandLineResult::kExit;
    result.exitCode = 2;
    result.error = QStringLiteral("kestrow: ") + text;
    return result;
}

}  // namespace

CommandLineResult ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Kestrow wireless site survey"));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Serial device of the scanner unit (without it: the first USB or "
                       "PC-card serial adapter made by Quatech, then by Socket, else "
                       "/dev/ttyS0)."),
        QStringLiteral("DEVICE"));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Use the simulated scanner unit (--simulate=SCENARIO for a scenario "
                       "file; the built-in office scenario without one). Excludes --port."));
    const QCommandLineOption open(QStringLiteral("open"),
                                  QStringLiteral("Open this site file after start-up, keeping "
                                                 "its stored points."),
                                  QStringLiteral("SITE"));
    const QCommandLineOption script(
        QStringLiteral("script"),
        QStringLiteral("Run the script once start-up is done, then exit ('-' reads standard "
                       "input; else a regular file, lines of at most 4096 bytes)."),
        QStringLiteral("FILE"));
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run without a window."));
    const QCommandLineOption pause(
        QStringLiteral("startup-pause"),
        QStringLiteral("Pause before the first request to the scanner (default 5000)."),
        QStringLiteral("MS"));
    const QCommandLineOption clientSize(
        QStringLiteral("client-size"),
        QStringLiteral("Size of the view's client area (the map canvas in the workspace), at most "
                       "8192x8192 (default 240x268 in the handheld frame)."),
        QStringLiteral("WxH"));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Append every byte read from and written to the scanner's line to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption wifi(
        QStringLiteral("wifi"),
        QStringLiteral("Use the computer's Wi-Fi adapter as the scanner (--wifi=IFACE for an "
                       "interface; the first wireless interface that is up without one)."));
    const QCommandLineOption wifiReplay(
        QStringLiteral("wifi-replay"),
        QStringLiteral("Use saved Wi-Fi scans (kscan --save-dump) as the scanner, one scan per "
                       "request, from the first again after the last."),
        QStringLiteral("DUMP"));
    const QCommandLineOption wifiScans(
        QStringLiteral("wifi-scans"),
        QStringLiteral("Wi-Fi scans merged into each survey point, 1 to %1 (default 1).")
            .arg(kMaxWifiScans),
        QStringLiteral("N"));
    const QCommandLineOption wifiSave(
        QStringLiteral("wifi-save-dump"),
        QStringLiteral("Append every Wi-Fi scan of the survey to FILE, as kscan --save-dump does "
                       "(replay it with --wifi-replay)."),
        QStringLiteral("FILE"));
    const QCommandLineOption wifiFull6Ghz(
        QStringLiteral("wifi-full-6ghz"),
        QStringLiteral("After each Wi-Fi scan, listen on every 6 GHz channel too (slower; without "
                       "it 6 GHz access points are found on the preferred channels and where "
                       "2.4 and 5 GHz ones announce them)."));
    const QCommandLineOption profile(
        QStringLiteral("profile"),
        QStringLiteral("The coverage requirement profile of the pass/fail overlay: data, voice "
                       "(the default), location or a profile file (JSON)."),
        QStringLiteral("NAME|FILE"));
    const QCommandLineOption handheld(
        QStringLiteral("handheld"),
        QStringLiteral("Open the handheld frame (240x268, taps re-centre the map, the scan "
                       "screen) instead of the desktop workspace."));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version."));
    parser.addOptions({port, simulate, wifi, wifiReplay, wifiScans, wifiSave, wifiFull6Ghz, open,
                       script, headless, pause, clientSize, trace, profile, handheld, help,
                       version});

    // --simulate and --wifi take an optional value, which the parser cannot
    // express: split "--simulate=FILE" and "--wifi=IFACE" off before parsing.
    QStringList args;
    QString scenario;
    QString wifiInterface;
    for (const QString& argument : arguments) {
        if (argument.startsWith(QStringLiteral("--simulate="))) {
            scenario = argument.mid(11);
            if (scenario.isEmpty()) {
                return UsageError(QStringLiteral("--simulate= needs a scenario file"));
            }
            args << QStringLiteral("--simulate");
        } else if (argument.startsWith(QStringLiteral("--wifi="))) {
            wifiInterface = argument.mid(7);
            if (wifiInterface.isEmpty()) {
                return UsageError(QStringLiteral("--wifi= needs an interface name"));
            }
            args << QStringLiteral("--wifi");
        } else {
            args << argument;
        }
    }
    if (!parser.parse(args)) {
        return UsageError(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return UsageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    }

    CommandLineResult result;
    if (parser.isSet(help)) {
        result.outcome = CommandLineResult::kExit;
        // The usage line names the program as it is installed, whatever the
        // process happens to be called.
        const QString help = parser.helpText();
        const int options = help.indexOf(QStringLiteral(" [options]"));
        result.output =
            QStringLiteral("Usage: kestrow") + (options >= 0 ? help.mid(options) : help);
        result.output += QStringLiteral(
            "\nScript commands, one a line (# starts a comment):\n"
            "  open PATH [keep|discard] [recover|norecover]   open-cancel   tap X Y\n"
            "  hold X Y [delete]   key left|up|right|down|action   zoom in|out\n"
            "  hscroll CODE [POS]   vscroll CODE [POS]   sign X1,Y1 X2,Y2 ...   save\n"
            "  status   dialog colors|help|about   screenshot FILE   window-screenshot FILE\n"
            "  dialog-screenshot FILE   sleep MS   overlay off|strongest|second|count|passfail\n"
            "  undo   redo   move X1 Y1 X2 Y2   rename X Y NAME   save-as PATH\n"
            "  sign-field customer|surveyor|notes TEXT   close save|discard|cancel   quit\n"
            "  new-site PLAN SITE [PAGE]   scale X1 Y1 X2 Y2 METRES\n"
            "  wall X1 Y1 X2 Y2 [MATERIAL]   detect-walls   place-ap BSSID X Y (map pixels)\n"
            "\nThe O key cycles the map overlay: off, the strongest signal's heatmap, the\n"
            "pass/fail map of the requirement profile (--profile), off.\n"
            "\nEvery point taken is kept in SITE.journal until the site is saved; opening\n"
            "the site after a crash offers to recover it. SIGTERM and SIGHUP end the\n"
            "program cleanly (exit status 128 + the signal).\n"
            "\nEnvironment: KESTROW_SOUND=off silences the sounds.\n");
        return result;
    }
    if (parser.isSet(version)) {
        result.outcome = CommandLineResult::kExit;
        result.output = QStringLiteral("kestrow %1\n").arg(QLatin1String(kVersion));
        return result;
    }

    KestrowOptions& options = result.options;
    options.port = parser.value(port);
    options.simulate = parser.isSet(simulate);
    options.scenario = scenario;
    options.openSite = parser.value(open);
    options.script = parser.value(script);
    options.headless = parser.isSet(headless);
    options.handheld = parser.isSet(handheld);
    options.tracePath = parser.value(trace);
    if (parser.isSet(profile)) {
        options.profile = parser.value(profile);
    }
    if (parser.isSet(trace) && options.tracePath.isEmpty()) {
        return UsageError(QStringLiteral("--trace needs a file"));
    }
    if (parser.isSet(port) && options.port.isEmpty()) {
        return UsageError(QStringLiteral("--port needs a device"));
    }
    if (parser.isSet(pause)) {
        bool ok = false;
        options.startupPauseMs = parser.value(pause).toInt(&ok);
        if (!ok || options.startupPauseMs < 0) {
            return UsageError(QStringLiteral("--startup-pause needs a number of milliseconds, "
                                             "not '%1'")
                                  .arg(parser.value(pause)));
        }
    }
    if (parser.isSet(clientSize)) {
        static const QRegularExpression form(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
        const QRegularExpressionMatch match = form.match(parser.value(clientSize));
        const int width = match.hasMatch() ? match.captured(1).toInt() : 0;
        const int height = match.hasMatch() ? match.captured(2).toInt() : 0;
        if (width < 1 || height < 1) {
            return UsageError(QStringLiteral("--client-size needs WxH, for example 240x268, "
                                             "not '%1'")
                                  .arg(parser.value(clientSize)));
        }
        if (width > kMaxClientSide || height > kMaxClientSide) {
            return UsageError(QStringLiteral("--client-size is at most %1 pixels a side, not '%2'")
                                  .arg(kMaxClientSide)
                                  .arg(parser.value(clientSize)));
        }
        options.clientSize = QSize(width, height);
        options.clientSizeSet = true;
    }

    // One scanner at a time: the options that choose it exclude each other.
    // A Wi-Fi scanner has no serial line to trace.
    const int sources =
        parser.isSet(port) + parser.isSet(simulate) + parser.isSet(wifi) + parser.isSet(wifiReplay);
    if (sources > 1) {
        return UsageError(
            QStringLiteral("--port, --simulate, --wifi and --wifi-replay exclude "
                           "each other"));
    }
    options.wifi = parser.isSet(wifi);
    options.wifiInterface = wifiInterface;
    options.wifiReplay = parser.value(wifiReplay);
    if (parser.isSet(wifiReplay) && options.wifiReplay.isEmpty()) {
        return UsageError(QStringLiteral("--wifi-replay needs a scan dump file"));
    }
    const bool wifiSource = options.wifi || parser.isSet(wifiReplay);
    if (parser.isSet(wifiScans)) {
        bool ok = false;
        options.wifiScans = parser.value(wifiScans).toInt(&ok);
        if (!wifiSource) {
            return UsageError(QStringLiteral("--wifi-scans needs --wifi or --wifi-replay"));
        }
        if (!ok || options.wifiScans < 1 || options.wifiScans > kMaxWifiScans) {
            return UsageError(QStringLiteral("--wifi-scans needs a number from 1 to %1, not '%2'")
                                  .arg(kMaxWifiScans)
                                  .arg(parser.value(wifiScans)));
        }
    }
    options.wifiSaveDump = parser.value(wifiSave);
    options.wifiFull6Ghz = parser.isSet(wifiFull6Ghz);
    if (parser.isSet(wifiSave) && (!wifiSource || options.wifiSaveDump.isEmpty())) {
        return UsageError(
            QStringLiteral("--wifi-save-dump needs a file, and --wifi or "
                           "--wifi-replay"));
    }
    if (options.wifiFull6Ghz && !options.wifi) {
        return UsageError(QStringLiteral("--wifi-full-6ghz needs --wifi"));
    }
    if (wifiSource && !options.tracePath.isEmpty()) {
        return UsageError(
            QStringLiteral("--trace records the scanner unit's serial line; a "
                           "Wi-Fi scan is saved with kscan --save-dump"));
    }
    return result;
}
