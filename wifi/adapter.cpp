#include "wifi/network_manager.h"
#include "wifi/nl80211_transport.h"
#include "wifi/scan_helper.h"
#include "wifi/system_bus.h"
#include "wifi/wifi_scanner.h"

namespace wifi {

std::unique_ptr<WifiScanner> MakeAdapterScanner(WifiScannerOptions options, bool useHelper) {
    std::shared_ptr<SystemBus> bus = MakeSystemBus();
    std::vector<std::unique_ptr<ExternalScanner>> services;
    services.push_back(std::make_unique<NetworkManagerBus>(bus));
    services.push_back(std::make_unique<IwdBus>(bus));
    return std::make_unique<WifiScanner>(
        std::make_unique<Nl80211Transport>(MakeSystemNetlink(),
                                           useHelper ? MakeKscanHelper() : nullptr),
        std::move(services), std::move(options));
}

}  // namespace wifi
