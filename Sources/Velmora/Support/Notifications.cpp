#include "Velmora/Support/Notifications.hpp"

namespace velmora {

Notifications& Notifications::shared() {
    static Notifications* center = new Notifications;
    return *center;
}

}  // namespace velmora
