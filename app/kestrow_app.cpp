#include "app/kestrow_app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QScrollBar>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/command_line.h"
#include "app/kestrow_doc.h"
#include "app/main_frame.h"
#include "app/script_host.h"
#include "app/script_runner.h"
#include "app/site_commands.h"
#include "app/survey_guard.h"
#include "app/termination.h"
#include "coverage/requirements.h"
#include "edit/survey_edits.h"
#include "platform/qt/qt_message_box.h"
#include "platform/window_messages.h"
#include "res/resources.h"
#include "scanner/serial_scan_source.h"
#include "scanner/wire_trace.h"
#include "sim/scenario.h"
#include "sim/simulated_scan_source.h"
#include "view/command_ids.h"
#include "view/kestrow_view.h"
#include "wifi/scan_replay.h"
#include "wifi/wifi_scan_source.h"
#include "wifi/wifi_scanner.h"
#include "workspace/map_canvas.h"
#include "workspace/workspace_window.h"

namespace {

void PrintLine(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    if (!text.endsWith('\n')) {
        std::fputc('\n', stream);
    }
}

// Sizes the frame so that the view's client area (inside its scroll bars) is
// exactly `client`.
void FitClientArea(CMainFrame& frame, CKestrowView& view, QSize client) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        QCoreApplication::processEvents();
        const QSize now = view.viewport()->size();
        if (now == client) {
            return;
        }
        frame.resize(frame.size() + (client - now));
    }
    QCoreApplication::processEvents();
}

// A script read from a file or standard input; a termination signal ends it.
struct ScriptFile {
    explicit ScriptFile(int fd) : fd(fd), input(fd), stream(&input) {}
    ~ScriptFile() {
        if (fd > 0) {
            ::close(fd);
        }
    }
    int fd;
    InterruptibleInput input;
    std::istream stream;
};

// SIGTERM or SIGHUP. Every point is on disk already (journaled before it was
// shown) and a save is written whole and renamed into place, so what is left
// is to stop the scanner's threads and go. The program ends here, without
// unwinding through whatever dialog or question is open, so that no
// half-answered command (a sign-off pad, a close question) carries on as if
// the surveyor had finished it.
[[noreturn]] void EndOnSignal(CKestrowView& view, int signo) {
    view.ShutDownScanner();
    std::cout.flush();
    std::fflush(nullptr);
    std::_Exit(128 + signo);
}

// Without a window Qt's own warnings (no runtime directory, window hints the
// offscreen platform ignores) say nothing about the survey: keep standard
// error for the program's own lines and for real failures.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        PrintLine(stderr, message);
    }
}

// A replayed scan takes about as long as the simulated unit's sweep, its
// access points coming in over that time, so the scan screen can be watched.
constexpr int kReplayedScanMs = 1000;

// The Wi-Fi adapter, or the saved scans of a dump file. A dump that cannot
// be read is reported in one line and gives null.
std::unique_ptr<ScanSource> MakeWifiScanSource(const KestrowOptions& options) {
    const auto warn = [](const std::string& text) {
        PrintLine(stderr, QStringLiteral("kestrow: warning: ") + QString::fromStdString(text));
    };
    std::unique_ptr<wifi::ScanSource> scans;
    if (!options.wifiReplay.isEmpty()) {
        std::string error;
        std::unique_ptr<wifi::ScanReplay> replay =
            wifi::ScanReplay::Load(options.wifiReplay.toStdString(), error);
        if (!replay) {
            PrintLine(stderr, QStringLiteral("kestrow: ") + QString::fromStdString(error));
            return nullptr;
        }
        for (const std::string& warning : replay->LoadWarnings()) {
            warn(options.wifiReplay.toStdString() + ": " + warning);
        }
        replay->SetPace(kReplayedScanMs);
        scans = std::move(replay);
    } else {
        wifi::WifiScannerOptions adapter;
        adapter.iface = options.wifiInterface.toStdString();
        adapter.full6Ghz = options.wifiFull6Ghz;
        scans = wifi::MakeAdapterScanner(adapter);
    }
    auto source = std::make_unique<wifi::WifiScanSource>(std::move(scans), options.wifiScans, warn);
    source->SaveScansTo(options.wifiSaveDump.toStdString());
    return source;
}

// What the Survey menu says the scanner is.
QString ScannerDescription(const KestrowOptions& options) {
    if (options.simulate) {
        return options.scenario.isEmpty() ? QStringLiteral("simulated unit (the built-in office)")
                                          : QStringLiteral("simulated unit (%1)")
                                                .arg(QFileInfo(options.scenario).fileName());
    }
    if (!options.wifiReplay.isEmpty()) {
        return QStringLiteral("saved Wi-Fi scans (%1)")
            .arg(QFileInfo(options.wifiReplay).fileName());
    }
    if (options.wifi) {
        return options.wifiInterface.isEmpty()
                   ? QStringLiteral("Wi-Fi adapter (the first one up)")
                   : QStringLiteral("Wi-Fi adapter %1").arg(options.wifiInterface);
    }
    return QStringLiteral("scanner unit on %1").arg(options.port);
}

// The Wi-Fi scanner merges a choice of scans into each point; the unit and
// the simulated unit sweep once.
std::function<void(int)> SetScansOf(ScanSource& scanner) {
    auto* wifiSource = dynamic_cast<wifi::WifiScanSource*>(&scanner);
    if (wifiSource == nullptr) {
        return nullptr;
    }
    return [wifiSource](int scans) { wifiSource->SetScansPerPoint(scans); };
}

}  // namespace

CKestrowApp::CKestrowApp() {
    platform::RegisterWindowMessage("KORV_DRAW");
    platform::RegisterWindowMessage("KORV_STATUS_UPDATE");
}

int CKestrowApp::Run(int argc, char** argv) {
    // A write past the file-size limit fails like any other failed write (the
    // save then says so and leaves the site as it was) instead of ending
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);

    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLineResult parsed = ParseCommandLine(arguments);
    if (parsed.outcome == CommandLineResult::kExit) {
        if (!parsed.output.isEmpty()) {
            PrintLine(stdout, parsed.output);
        }
        if (!parsed.error.isEmpty()) {
            PrintLine(stderr, parsed.error);
        }
        return parsed.exitCode;
    }
    const KestrowOptions& options = parsed.options;
    // The requirement profile of the pass/fail overlay: a wrong one is a
    // usage error, like ksf check's.
    coverage::Profile profile;
    std::string profileError;
    if (!coverage::ResolveProfile(options.profile.toStdString(), profile, profileError)) {
        PrintLine(stderr,
                  QStringLiteral("kestrow: --profile: ") + QString::fromStdString(profileError));
        return 2;
    }
    if (options.headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(QuietQtMessages);
    }

    // SIGTERM and SIGHUP are taken before anything starts: from here on they
    // end the program through EndOnSignal, never half-way through a write.
    std::string signalError;
    if (!termination::Install(signalError)) {
        PrintLine(stderr, QStringLiteral("kestrow: ") + QString::fromStdString(signalError));
        return 1;
    }

    // The script is opened before anything starts, so a wrong name costs nothing.
    std::unique_ptr<ScriptFile> script;
    if (!options.script.isEmpty()) {
        int fd = 0;
        if (options.script != QLatin1String("-")) {
            // Only a plain file has an end: a directory, a device or a pipe
            // given by mistake is refused before anything starts.
            const QByteArray path = options.script.toLocal8Bit();
            struct stat st {};
            if (::stat(path.constData(), &st) != 0) {
                PrintLine(stderr,
                          QStringLiteral("kestrow: cannot read script '%1': %2")
                              .arg(options.script, QString::fromLocal8Bit(std::strerror(errno))));
                return 2;
            }
            if (!S_ISREG(st.st_mode)) {
                PrintLine(stderr, QStringLiteral("kestrow: script '%1' is not a regular file "
                                                 "(give a file, or - for standard input)")
                                      .arg(options.script));
                return 2;
            }
            fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                PrintLine(stderr,
                          QStringLiteral("kestrow: cannot read script '%1'").arg(options.script));
                return 2;
            }
        }
        script = std::make_unique<ScriptFile>(fd);
    }

    // The scanner: the simulated unit, the Wi-Fi adapter, saved Wi-Fi scans,
    // or the unit on a serial port, with every byte on its line traced when
    // asked.
    std::unique_ptr<WireTrace> trace;
    if (!options.tracePath.isEmpty()) {
        trace = std::make_unique<WireTrace>();
        std::string error;
        if (!trace->Open(options.tracePath.toStdString(), error)) {
            PrintLine(stderr, QStringLiteral("kestrow: cannot write the trace: ") +
                                  QString::fromStdString(error));
            return 1;
        }
    }
    std::unique_ptr<ScanSource> scanner;
    if (options.simulate) {
        sim::Scenario scenario = sim::BuiltInOfficeScenario();
        std::string error;
        if (!options.scenario.isEmpty() &&
            !sim::LoadScenario(options.scenario.toStdString(), scenario, error)) {
            PrintLine(stderr, QStringLiteral("kestrow: ") + QString::fromStdString(error));
            return 1;
        }
        scanner = sim::SimulatedScanSource::Start(scenario, trace.get(), error);
        if (!scanner) {
            PrintLine(stderr, QStringLiteral("kestrow: cannot start the simulated unit: ") +
                                  QString::fromStdString(error));
            return 1;
        }
    } else if (options.wifi || !options.wifiReplay.isEmpty()) {
        scanner = MakeWifiScanSource(options);
        if (!scanner) {
            return 1;
        }
    } else {
        scanner = std::make_unique<SerialScanSource>(options.port.toStdString(), trace.get());
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrow"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    InitKestrowResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/kestrow32"));
    icon.addFile(QStringLiteral(":/icons/kestrow16"));
    QApplication::setWindowIcon(icon);

    // Message boxes: windows for a person, printed lines for a script.
    platform::QtMessageBoxHandler messageBoxes;
    std::unique_ptr<KestrowScriptHost> scriptHost;
    if (script) {
        scriptHost = std::make_unique<KestrowScriptHost>(std::cout);
    } else {
        platform::SetMessageBoxHandler(&messageBoxes);
    }

    // The questions' answers: a person's, or the script's.
    const UiServices services = scriptHost ? scriptHost->Services() : UiServices{};
    CKestrowDoc document;
    document.OnNewDocument();
    // The window outlives everything that acts on its view.
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<workspace::WorkspaceWindow> desk;
    auto* view = new CKestrowView;
    view->SetUiServices(services);
    view->SetProfile(profile);
    SiteCommands site(*view, services);
    // Every commit and deletion is journaled before it is shown; closing
    // with unsaved points asks first.
    SurveyGuard guard(view);
    site.SetSurveyGuard(&guard);
    // Commits, deletions, moves and renamings pass through the survey's
    // edits, which make them undoable, to the journal.
    edit::SurveyEdits edits(*view, &guard);
    edits.SetDocument(&site);
    view->SetSurveyListener(&edits);
    site.SetSurveyEdits(&edits);
    // The workspace's sign-off asks for the report's cover too.
    site.SetReportFieldsAtSignOff(!options.handheld);
    edits.SetDesktop(!options.handheld);
    const auto command = [view, &site](int id) {
        switch (id) {
            case ID_OPEN_SITE:
                site.Open();
                break;
            case ID_SAVE_SITE:
                site.Save();
                break;
            case ID_NEW_SITE:
                site.NewSiteFromPlan();
                break;
            default:
                view->OnCommand(id);
                break;
        }
    };
    const auto closeQuery = [&guard, &site] {
        return guard.ConfirmClose([&site] { return site.Save(); });
    };

    // The handheld frame, or the desktop workspace around the same view.
    QMainWindow* window = nullptr;
    std::function<QString(int)> paneText;
    if (options.handheld) {
        frame = std::make_unique<CMainFrame>();
        frame->SetCloseQuery(closeQuery);
        frame->SetView(view, command);
        window = frame.get();
        paneText = [&frame](int pane) { return frame->PaneText(pane); };
    } else {
        desk = std::make_unique<workspace::WorkspaceWindow>(view, command);
        desk->SetCloseQuery(closeQuery);
        desk->SetModifiedQuery([&guard] { return guard.HasUnsavedChanges(); });
        desk->SetSitePathQuery([&site] { return site.SitePath(); });
        desk->SetSiteOpener([&site](const std::string& path) { site.Open(path, true); });
        desk->SetStartProfile(profile.name);
        desk->SetScanner(ScannerDescription(options), options.wifiScans, SetScansOf(*scanner));
        workspace::SurveyEditHooks hooks;
        hooks.undoStack = &edits.UndoStack();
        const auto pointAt = [&edits](int32_t x, int32_t y, std::string& error) {
            const std::optional<int> index = edits.PointNear(x, y);
            if (!index) {
                error = "There is no survey point there.";
            }
            return index;
        };
        hooks.deletePoint = [&edits, pointAt](int32_t x, int32_t y, std::string& error) {
            const std::optional<int> index = pointAt(x, y, error);
            return index && edits.DeletePoint(*index, &error);
        };
        hooks.movePoint = [&edits, pointAt](int32_t x, int32_t y, int32_t toX, int32_t toY,
                                            std::string& error) {
            const std::optional<int> index = pointAt(x, y, error);
            return index && edits.MovePoint(*index, toX, toY, &error);
        };
        hooks.renamePoint = [&edits, pointAt](int32_t x, int32_t y, const std::string& name,
                                              std::string& error) {
            const std::optional<int> index = pointAt(x, y, error);
            return index && edits.RenamePoint(*index, name, &error);
        };
        hooks.saveAs = [&edits](const std::string& path) { return edits.SaveAs(path); };
        hooks.exportReport = [&edits, &profile](const std::string& path, std::string& error) {
            report::ReportOptions reportOptions;
            reportOptions.profile = profile;
            return edits.ExportReport(path, reportOptions, error);
        };
        hooks.nextPointName = [&edits] { return edits.NextPointName(); };
        desk->SetEditHooks(std::move(hooks));
        QObject::connect(&edits, &edit::SurveyEdits::surveyChanged, desk.get(),
                         &workspace::WorkspaceWindow::Refresh);
        // The workspace's Open takes floor plans too, and makes sites of them.
        site.SetOffersPlans(true);
        window = desk.get();
        paneText = [&desk](int pane) { return desk->PaneText(pane); };
    }
    QSocketNotifier signalNotifier(termination::WakeFd(), QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, window,
                     [view] { EndOnSignal(*view, termination::Pending()); });

    // The window shows before the scanner comes up, so the surveyor sees the
    // program (and its wait cursor) during the start-up pause.
    if (frame) {
        frame->show();
        FitClientArea(*frame, *view, options.clientSize);
        frame->repaint();
        view->OnInitialUpdate(*scanner, options.startupPauseMs);
        FitClientArea(*frame, *view, options.clientSize);
        view->setFocus();
        frame->repaint();
    } else {
        // A script's window is the same every time: no remembered layout.
        desk->show();
        desk->RestoreLayout(
            options.clientSizeSet ? std::optional<QSize>(options.clientSize) : std::nullopt,
            !scriptHost);
        desk->repaint();
        view->OnInitialUpdate(*scanner, options.startupPauseMs);
        desk->Canvas().setFocus();
    }

    if (!options.openSite.isEmpty()) {
        // As the file dialog would hand it over: a full path.
        const QString path = QFileInfo(options.openSite).absoluteFilePath();
        site.Open(path.toStdString(), true);
    }

    int status = 0;
    if (scriptHost) {
        scriptHost->Attach(view, window, paneText, command, desk.get());
        scriptHost->SetEdits(&edits);
        scriptHost->SetSitePath([&site] { return site.SitePath(); });
        ScriptRunner runner(*scriptHost, std::cerr);
        status = runner.Run(script->stream);
    } else {
        status = app.exec();
    }
    if (termination::Pending() != 0) {
        // The script ended because a signal came while it waited for a line.
        EndOnSignal(*view, termination::Pending());
    }

    view->ShutDownScanner();
    if (desk && !scriptHost) {
        desk->SaveLayout();
    }
    scriptHost.reset();
    platform::SetMessageBoxHandler(nullptr);
    return status;
}
