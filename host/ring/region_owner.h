#pragma once

// Who a ring region belongs to. A region carries a user's camera, and /dev/shm is open to
// every user: a writer uses only a region private to its own user, a reader only one of
// the user it expects, and a region whose writer still runs belongs to that writer.

#include <optional>
#include <string>

namespace Vardel::owner {

struct Owner {
    unsigned uid = 0;
    unsigned mode = 0; // permission bits
};

// The owner of an open object.
std::optional<Owner> of(int fd);
// The owner of an object this process may not even open, by its entry under /dev/shm
// (where Linux shows them); nothing when there is none.
std::optional<Owner> ofObject(const std::string& objectName);

// Owned by this process's user, with no access for group or others.
bool privateToMe(const Owner& owner);
unsigned myUid();

// "name (uid N)", or "uid N" for a user without a name.
std::string describeUser(unsigned uid);
// A user given by name or number.
std::optional<unsigned> userId(const std::string& nameOrNumber);

// True while process pid runs, one of another user included. A dead process's id that has
// been given to a new process reads as alive.
bool processAlive(int pid);

} // namespace Vardel::owner
