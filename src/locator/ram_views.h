// Emulators that map their RAM more than once, or keep copies of it: every
// view shows both markers, and so does every copy (a rewind or run-ahead
// state, a save state kept in memory). Where the system shows the sightings in
// shared memory to be views of one memory, and the others lie in private
// memory, the views are the RAM and the rest are copies: they count as one
// sighting, the view a user can write.
#pragma once

#include <vector>

#include "locator/markers.h"
#include "platform/process_services.h"

// Protections under which a page can be read, or written; PAGE_GUARD makes any of them fault.
const platform::DWORD ReadableProtections =
    platform::PAGE_READONLY | platform::PAGE_READWRITE | platform::PAGE_WRITECOPY |
    platform::PAGE_EXECUTE_READ | platform::PAGE_EXECUTE_READWRITE | platform::PAGE_EXECUTE_WRITECOPY;
const platform::DWORD WritableProtections = platform::PAGE_READWRITE | platform::PAGE_WRITECOPY |
                                            platform::PAGE_EXECUTE_READWRITE |
                                            platform::PAGE_EXECUTE_WRITECOPY;

// Of the sightings of one RAM's start (`starts`) and, where the RAM is known
// by its markers, of its end (`ends`; null where each start stands for a
// whole RAM), chooses the RAM when the starts seen in shared memory (each
// pairing with an end one RAM after it, where ends are given) are shown by
// the system to be the same memory, and every other sighting lies in private
// memory: the lowest view whose 2 MiB can be written all through, else the
// lowest. `privateSightings`: how many lay in private memory; `viewsChosen`,
// where given, the views of the RAM chosen, lowest first.
bool ChooseViewOfOneRam(platform::HANDLE handle, const Address* starts, int startCount, const Address* ends,
                        int endCount, Address& chosen, int& privateSightings,
                        std::vector<Address>* viewsChosen = nullptr);

// Whether every page of [from, from + size) is committed with one of `protections`, and no guard page.
bool AccessibleThroughout(platform::HANDLE handle, Address from, platform::SIZE_T size,
                          platform::DWORD protections);

// Makes the slots the pair of the RAM that ChooseViewOfOneRam chooses among
// the markers' sightings; at most MaxSightings of each marker are looked at.
// Otherwise leaves the slots alone. Notes in LastWalk how many sightings lay
// in private memory, and the views where they are the RAM. Does nothing where
// the build counts every sighting (platform/address_width.h).
void MergeViewsOfOneRam(platform::HANDLE handle);
