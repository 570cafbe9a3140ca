#include "app/kestrow_app.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QScrollBar>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include "app/command_line.h"
#include "app/kestrow_doc.h"
#include "app/main_frame.h"
#include "app/script_host.h"
#include "app/script_runner.h"
#include "platform/qt/qt_message_box.h"
#include "platform/window_messages.h"
#include "res/resources.h"
#include "sim/scenario.h"
#include "sim/simulated_unit.h"
#include "sitefile/site_commands.h"
#include "view/kestrow_view.h"

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

// Without a window Qt's own warnings (no runtime directory, window hints the
// offscreen platform ignores) say nothing about the survey: keep standard
// error for the program's own lines and for real failures.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        PrintLine(stderr, message);
    }
}

}  // namespace

CKestrowApp::CKestrowApp() {
    platform::RegisterWindowMessage("KORV_DRAW");
    platform::RegisterWindowMessage("KORV_STATUS_UPDATE");
}

int CKestrowApp::Run(int argc, char** argv) {
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
    if (options.headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(QuietQtMessages);
    }

    // The script is opened before anything starts, so a wrong name costs nothing.
    std::ifstream scriptFile;
    std::istream* script = nullptr;
    if (!options.script.isEmpty()) {
        if (options.script == QLatin1String("-")) {
            script = &std::cin;
        } else {
            scriptFile.open(options.script.toLocal8Bit().constData());
            if (!scriptFile) {
                PrintLine(stderr,
                          QStringLiteral("kestrow: cannot read script '%1'").arg(options.script));
                return 2;
            }
            script = &scriptFile;
        }
    }

    std::unique_ptr<sim::SimulatedUnit> unit;
    std::string port = options.port.toStdString();
    if (options.simulate) {
        sim::Scenario scenario = sim::BuiltInOfficeScenario();
        std::string error;
        if (!options.scenario.isEmpty() &&
            !sim::LoadScenario(options.scenario.toStdString(), scenario, error)) {
            PrintLine(stderr, QStringLiteral("kestrow: ") + QString::fromStdString(error));
            return 1;
        }
        unit = sim::SimulatedUnit::Start(scenario, error);
        if (!unit) {
            PrintLine(stderr, QStringLiteral("kestrow: cannot start the simulated unit: ") +
                                  QString::fromStdString(error));
            return 1;
        }
        port = unit->SlavePath();
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

    CKestrowDoc document;
    document.OnNewDocument();
    CMainFrame frame;
    auto* view = new CKestrowView;
    frame.SetView(view, [view](int command) { view->OnCommand(command); });

    CKestrowView::StartupOptions startup;
    startup.port = port;
    startup.pauseMs = options.startupPauseMs;
    if (unit) {
        sim::SimulatedUnit* simulated = unit.get();
        startup.surveyorPosition = [simulated](int x, int y) {
            simulated->SetSurveyorPosition(x, y);
        };
    }
    // The window shows its start screen before the scanner comes up, so the
    // surveyor sees the program (and its wait cursor) during the start-up pause.
    frame.show();
    FitClientArea(frame, *view, options.clientSize);
    frame.repaint();
    view->OnInitialUpdate(startup);
    FitClientArea(frame, *view, options.clientSize);
    view->setFocus();
    frame.repaint();

    if (!options.openSite.isEmpty()) {
        // As the file dialog would hand it over: a full path.
        const QString site = QFileInfo(options.openSite).absoluteFilePath();
        sitefile_ui::ScopedOpenAnswers answers(site.toStdString(), true);
        view->OpenSite();
    }

    int status = 0;
    if (scriptHost) {
        scriptHost->Attach(view, &frame);
        ScriptRunner runner(*scriptHost, std::cerr);
        status = runner.Run(*script);
    } else {
        status = app.exec();
    }

    view->ShutDownScanner();
    if (unit) {
        unit->Stop();
    }
    scriptHost.reset();
    platform::SetMessageBoxHandler(nullptr);
    return status;
}
