// NetworkManager backend (not yet present: the empty phone book falls back to
// pppd's peers).
#include "platform/dialup_backend.h"

namespace platform {

bool NmAvailable() { return false; }
int NmEnumEntries(QStringList &) { return kDialErrCannotOpenPhoneBook; }
int NmStart(const DialParams &, std::unique_ptr<DialLine> &) { return kDialErrCannotOpenPhoneBook; }

} // namespace platform
