#include "platform/window_messages.h"

#include <map>
#include <mutex>
#include <string>

namespace platform {

namespace {
constexpr MessageId kFirstRegisteredMessage = 0xC000;

std::mutex g_registryMutex;
std::map<std::string, MessageId>& Registry() {
    static std::map<std::string, MessageId> registry;
    return registry;
}
}  // namespace

MessageId RegisterWindowMessage(const char* name) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto& registry = Registry();
    auto found = registry.find(name);
    if (found != registry.end()) {
        return found->second;
    }
    MessageId id = kFirstRegisteredMessage + static_cast<MessageId>(registry.size());
    registry.emplace(name, id);
    return id;
}

}  // namespace platform
