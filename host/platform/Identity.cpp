#include "platform/Identity.h"

#include "host/platform/HostPlatform.h"

int who_am_i(Rsc_id* id) {
    // Box 0 stands for a process the platform does not know.
    if (id == nullptr || HostPlatform::box() == 0) return -1;
    id->box = HostPlatform::box();
    return 0;
}
