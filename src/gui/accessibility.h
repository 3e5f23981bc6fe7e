// Assistive technology presses check boxes the way a mouse click does.
#pragma once

namespace qv {

// Qt's own check-box interface toggles the box without a click, so handlers bound to the click
// (the auto-merge rule, saving the page-capture flag) would not run. Installs an interface
// whose toggle and press actions click the box. Idempotent; window thread.
void InstallAccessibleCheckBoxes();

}  // namespace qv
