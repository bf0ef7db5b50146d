// Handlers of features that are not in the program yet. Each one is a weak
// definition: the feature's own file supplies the real handler, which the
// linker then takes in place of this empty one. A feature that lands should
// also delete its lines here.
#include "app/mainform.h"

#define IDLIX_PENDING __attribute__((weak))

// tools
IDLIX_PENDING void TMainForm::btn_FingerClick() {}
IDLIX_PENDING void TMainForm::btn_TraceClick() {}
IDLIX_PENDING void TMainForm::ISPTree1Click() {}
IDLIX_PENDING void TMainForm::Resolve1Click() {}

// dial-up
IDLIX_PENDING void TMainForm::FillDialUpEntries() {}
IDLIX_PENDING void TMainForm::DialOnStart() {}
IDLIX_PENDING void TMainForm::Connect1Click() {}
IDLIX_PENDING void TMainForm::Disconnect1Click() {}
IDLIX_PENDING void TMainForm::Reset1Click() {}
