// The manual-page formatter shared by corvane and tessel.
#pragma once

/// Formats one manual-page section directory; returns a result code.
int tessel_directory(const char* dir);
