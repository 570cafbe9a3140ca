// The simulated Corvell scanner unit on a pseudo-terminal. The host opens the
// terminal's slave side like any serial port; the unit answers on the master
// side from its own thread, paced at the scenario's baud rate.
//
//   std::string error;
//   auto unit = sim::SimulatedUnit::Start(sim::BuiltInOfficeScenario(), error);
//   if (!unit) { ...error... }
//   OpenThePort(unit->SlavePath());
//   unit->SetSurveyorPosition(120, 160);  // before each survey point's sweep
//   ...
//   unit->Stop();                          // or let the destructor do it
//
// Each frame from the host is acted on once its last byte would have crossed
// the line; each answer leaves after the scenario's dwell, byte by byte no
// faster than the line carries it. Bytes outside frames (the host's keep-alive
// 00 00) are ignored.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/scenario.h"
#include "sim/unit_protocol.h"

namespace sim {

struct UnitEvent {
    enum Kind {
        kHostMessage,    // a frame from the host, once its last byte has arrived
        kUnitMessage,    // a frame the unit sends, once its first byte has left
        kGarbage,        // garbage bytes the unit sends (in message.payload), likewise
        kAnswerDropped,  // a scan command the drop fault leaves unanswered
    };
    Kind kind = kHostMessage;
    WireMessage message;
};

// Called on the unit's thread for every event, in order; must not block long.
using UnitEventCallback = std::function<void(const UnitEvent&)>;

class SimulatedUnit {
  public:
    // Opens a pseudo-terminal and starts the unit. Answers nullptr with a
    // one-line error when no terminal can be had.
    static std::unique_ptr<SimulatedUnit> Start(const Scenario& scenario, std::string& error,
                                                UnitEventCallback onEvent = nullptr);
    ~SimulatedUnit();
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    // The terminal the host opens, e.g. "/dev/pts/3".
    const std::string& SlavePath() const { return m_slavePath; }

    // Where the surveyor stands on the map, for path loss; any thread.
    void SetSurveyorPosition(int x, int y);
    void ClearSurveyorPosition();
    // Where the surveyor is at each moment (a walk), asked whenever a scan
    // command is answered; it takes the place of the position above while
    // it answers true. Empty stops it.
    void FollowSurveyor(std::function<bool(double& x, double& y)> where);

    // Ends the unit's thread and closes the terminal. Idempotent.
    void Stop();

  private:
    SimulatedUnit(const Scenario& scenario, UnitEventCallback onEvent);
    void Run();
    void Emit(UnitEvent::Kind kind, const WireMessage& message);
    std::optional<MapPosition> Position();

    UnitResponder m_responder;
    unsigned m_baud;
    UnitEventCallback m_onEvent;
    std::string m_slavePath;
    int m_master = -1;
    int m_slave = -1;  // held open so the line never hangs up between host sessions
    int m_stopRead = -1;
    int m_stopWrite = -1;
    std::thread m_thread;
    std::mutex m_positionMutex;
    std::optional<MapPosition> m_position;
    std::function<bool(double& x, double& y)> m_follow;
};

}  // namespace sim
