// Emulators that map their RAM more than once, or keep copies of it: every
// view shows both markers, and so does every copy (a rewind or run-ahead
// state, a save state kept in memory). Where the system shows the sightings in
// shared memory to be views of one memory, and the others lie in private
// memory, the views are the RAM and the rest are copies: they count as one
// sighting, the view a user can write.
#pragma once

#include "platform/process_services.h"

// Makes the slots one view's pair when the start markers seen in shared memory
// each pair with an end marker one RAM after it, the system shows them all to
// be the same memory, and every other sighting lies in private memory: the
// lowest view whose 2 MiB can be written all through, else the lowest. At most
// MaxSightings of each marker are looked at. Otherwise leaves the slots alone.
// Notes in LastWalk how many sightings lay in private memory. Does nothing where
// the build counts every sighting (platform/address_width.h).
void MergeViewsOfOneRam(platform::HANDLE handle);
