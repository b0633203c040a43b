#include "ui/failure_dialog.h"

// TEMPORARY stand-in until the task dialog exists: behaves like a dialog that could not be
// shown, which counts as Close.
int showFailureDialog(SetupJob&, bool) {
    return IDCLOSE;
}
