#pragma once

// Hands over to the boot-stage program "/bin/vemo" inside the "/flash" root, as
// "vemo" with no arguments, and waits for it. Its exit status is of no concern to
// the installer; a failure to start it changes nothing.
void runBootStage();
