// The simulated scanner unit as the view's scan source: the unit runs on a
// pseudo-terminal and the serial scan source talks to it through the same
// termios code as to real hardware. Each sweep tells the unit where the
// surveyor stands, for its path loss.
#pragma once

#include <memory>
#include <string>

#include "scanner/serial_scan_source.h"
#include "sim/scenario.h"
#include "sim/simulated_unit.h"

namespace sim {

class SimulatedScanSource final : public SerialScanSource {
  public:
    // Starts the unit; nullptr with a one-line error when no terminal can be had.
    static std::unique_ptr<SimulatedScanSource> Start(const Scenario& scenario, WireTrace* trace,
                                                      std::string& error);
    ~SimulatedScanSource() override;

    void Disconnect() override;
    void BeginSweep(int32_t x, int32_t y) override;
    void FollowSurveyor(SurveyorPlace where) override;

  private:
    SimulatedScanSource(std::unique_ptr<SimulatedUnit> unit, WireTrace* trace);
    std::unique_ptr<SimulatedUnit> m_unit;
};

}  // namespace sim
