// Compression of Info files.
#pragma once

/// Compresses the Info files of `dir`; 0 when done, -1 when it cannot be opened.
int texi_directory(const char* dir);
/// Non-zero when `path` looks like an Info file.
int is_infofile(const char* path);
