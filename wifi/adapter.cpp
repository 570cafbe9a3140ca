#include "wifi/network_manager.h"
#include "wifi/nl80211_transport.h"
#include "wifi/wifi_scanner.h"

namespace wifi {

std::unique_ptr<WifiScanner> MakeAdapterScanner(WifiScannerOptions options) {
    return std::make_unique<WifiScanner>(std::make_unique<Nl80211Transport>(),
                                         std::make_unique<NetworkManagerBus>(), std::move(options));
}

}  // namespace wifi
