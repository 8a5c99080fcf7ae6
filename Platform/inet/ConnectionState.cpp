#include "inet/ConnectionState.h"

namespace carvo {

ConnectedState queryConnectedState() { return {}; }

}  // namespace carvo
