// Emulators that map their RAM more than once: every view shows both markers,
// and each marker is seen once per view. Where the system shows all those
// sightings to be views of the same memory, they count as one, the lowest.
#pragma once

#include "platform/process_services.h"

// Makes the slots the lowest view's pair when every start marker seen pairs
// with an end marker one RAM after it, no more than MaxSightings of each were
// seen, and the system shows each pair to be the same memory as the lowest;
// otherwise leaves the slots alone. Does nothing where the build counts every
// sighting (platform/address_width.h).
void MergeViewsOfOneRam(platform::HANDLE handle);
