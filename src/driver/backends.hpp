// The backends built into corvane.
#pragma once

/// Registers KEST, pkgadd and XML, in that order, with none selected, and
/// puts each backend's settings back to their initial values.
void initialize_backends();
