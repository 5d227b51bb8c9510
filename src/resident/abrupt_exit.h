#pragma once
// The toolkit ends the process with exit() when its display connection breaks (the X
// server went away with the session): the window's destruction never runs, and with it
// would go the table the program holds. While a core is armed here, exit() first saves
// that core's table and tells its editor (CResidentCore::EndAbruptly).

namespace orb {

class CResidentCore;

// Arms (pCore) or disarms (nullptr) the end at exit(). Main thread only.
void EndCoreAtExit(CResidentCore* pCore);

}  // namespace orb
