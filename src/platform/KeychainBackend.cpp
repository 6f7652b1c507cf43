#include "platform/KeychainBackend.h"

#include "platform/SecretServiceKeychain.h"

#include <mutex>

namespace platform {
namespace {

std::mutex backendMutex;
std::shared_ptr<KeychainBackend>& backendSlot()
{
    static std::shared_ptr<KeychainBackend> slot;
    return slot;
}

} // namespace

KeychainBackend& KeychainBackend::current()
{
    std::lock_guard lock(backendMutex);
    auto& slot = backendSlot();
    if (!slot)
        slot = std::make_shared<SecretServiceKeychain>();
    return *slot;
}

std::shared_ptr<KeychainBackend> KeychainBackend::currentShared()
{
    std::lock_guard lock(backendMutex);
    auto& slot = backendSlot();
    if (!slot)
        slot = std::make_shared<SecretServiceKeychain>();
    return slot;
}

void KeychainBackend::setCurrent(std::shared_ptr<KeychainBackend> backend)
{
    std::lock_guard lock(backendMutex);
    backendSlot() = std::move(backend);
}

} // namespace platform
