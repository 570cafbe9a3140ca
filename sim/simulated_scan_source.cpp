#include "sim/simulated_scan_source.h"

namespace sim {

std::unique_ptr<SimulatedScanSource> SimulatedScanSource::Start(const Scenario& scenario,
                                                                WireTrace* trace,
                                                                std::string& error) {
    std::unique_ptr<SimulatedUnit> unit = SimulatedUnit::Start(scenario, error);
    if (!unit) {
        return nullptr;
    }
    return std::unique_ptr<SimulatedScanSource>(new SimulatedScanSource(std::move(unit), trace));
}

SimulatedScanSource::SimulatedScanSource(std::unique_ptr<SimulatedUnit> unit, WireTrace* trace)
    : SerialScanSource(unit->SlavePath(), trace), m_unit(std::move(unit)) {}

SimulatedScanSource::~SimulatedScanSource() {
    Disconnect();
}

void SimulatedScanSource::Disconnect() {
    // The link first: it must not find its line gone under it.
    SerialScanSource::Disconnect();
    m_unit->Stop();
}

void SimulatedScanSource::BeginSweep(int32_t x, int32_t y) {
    m_unit->SetSurveyorPosition(x, y);
    SerialScanSource::BeginSweep(x, y);
}

void SimulatedScanSource::FollowSurveyor(SurveyorPlace where) {
    m_unit->FollowSurveyor(std::move(where));
}

}  // namespace sim
